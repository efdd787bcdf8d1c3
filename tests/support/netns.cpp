#include "netns.h"

#include <unistd.h>

#include <atomic>
#include <sstream>

namespace {

std::atomic<int> namespace_serial{0};

}  // namespace

std::string tool_path(const std::string& tool) {
    return std::string(QUORVALE_TOOLS_DIR) + "/" + tool;
}

std::string NetNamespace::unavailable_reason() {
    if (!running_as_root()) return "network namespaces need root";
    ProcessResult r = run_process({"ip", "-V"}, {}, std::chrono::seconds(10));
    if (!r.exited || r.exit_status != 0) return "iproute2's ip is not available";
    return "";
}

NetNamespace::NetNamespace() {
    error_ = unavailable_reason();
    if (!error_.empty()) return;
    name_ = "qmtest-" + std::to_string(getpid()) + "-" + std::to_string(namespace_serial++);
    ProcessResult r = run_process({"ip", "netns", "add", name_}, {}, std::chrono::seconds(10));
    if (!r.exited || r.exit_status != 0) {
        error_ = "ip netns add failed: " + r.err;
        name_.clear();
        return;
    }
    ok_ = run({"ip", "link", "set", "lo", "up"});
    if (!ok_) error_ = "cannot bring up lo in " + name_;
}

NetNamespace::~NetNamespace() {
    if (name_.empty()) return;
    // Processes still inside would keep the namespace's devices alive.
    ProcessResult pids = run_process({"ip", "netns", "pids", name_}, {}, std::chrono::seconds(5));
    std::istringstream in(pids.out);
    for (std::string pid; in >> pid;) run_process({"kill", "-9", pid}, {}, std::chrono::seconds(5));
    run_process({"ip", "netns", "del", name_}, {}, std::chrono::seconds(10));
}

std::vector<std::string> NetNamespace::wrap(const std::vector<std::string>& argv) const {
    std::vector<std::string> full = {"ip", "netns", "exec", name_};
    full.insert(full.end(), argv.begin(), argv.end());
    return full;
}

bool NetNamespace::run(const std::vector<std::string>& argv) {
    ProcessResult r = run_process(wrap(argv), {}, std::chrono::seconds(20));
    return r.exited && r.exit_status == 0;
}

bool NetNamespace::add_veth(const std::string& a, const std::string& b) {
    return run({"ip", "link", "add", a, "type", "veth", "peer", "name", b}) &&
           run({"ip", "link", "set", a, "up"}) && run({"ip", "link", "set", b, "up"});
}

bool NetNamespace::add_address(const std::string& ifname, const std::string& cidr) {
    return run({"ip", "addr", "add", cidr, "dev", ifname});
}

bool NetNamespace::delete_link(const std::string& ifname) {
    return run({"ip", "link", "del", ifname});
}

std::vector<std::string> NetNamespace::adapter_names() {
    ProcessResult r = run_process(wrap({tool_path("list_adapters")}), {}, std::chrono::seconds(20));
    std::vector<std::string> names;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) names.push_back(line);
    return names;
}

int NetNamespace::adapter_number(const std::string& ifname) {
    std::vector<std::string> names = adapter_names();
    for (size_t i = 0; i < names.size(); i++) {
        if (names[i] == ifname) return static_cast<int>(i) + 1;
    }
    return 0;
}
