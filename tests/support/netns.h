// A throwaway network namespace for capture tests, deleted by the destructor
// with everything in it. Needs root and iproute2.
#pragma once

#include <string>
#include <vector>

#include "process.h"

class NetNamespace {
  public:
    NetNamespace();
    NetNamespace(const NetNamespace&) = delete;
    NetNamespace& operator=(const NetNamespace&) = delete;
    ~NetNamespace();

    // Why namespaces cannot be made here (not root, no `ip`), or empty.
    static std::string unavailable_reason();

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& name() const { return name_; }

    // Runs a command inside the namespace to its end; false unless it exits 0.
    bool run(const std::vector<std::string>& argv);
    // The argv that runs `argv` inside the namespace.
    std::vector<std::string> wrap(const std::vector<std::string>& argv) const;

    // Adds a veth pair inside the namespace, both ends up and without
    // addresses. The names must be at most 15 characters.
    bool add_veth(const std::string& a, const std::string& b);
    // Gives `ifname` an IPv4 address "a.b.c.d/len" (for tests that need IP).
    bool add_address(const std::string& ifname, const std::string& cidr);
    bool delete_link(const std::string& ifname);

    // The 1-based position of `ifname` in the capture library's adapter list
    // as the watcher sees it inside the namespace; 0 when it is not listed.
    int adapter_number(const std::string& ifname);
    // The capture library's adapter list inside the namespace, in order:
    // one entry per adapter, its device name.
    std::vector<std::string> adapter_names();

  private:
    std::string name_;
    std::string error_;
    bool ok_ = false;
};

// Path of a test tool built in tests/tools.
std::string tool_path(const std::string& tool);
