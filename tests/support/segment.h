// A throwaway Ethernet segment for end-to-end tests: a namespace with a veth
// pair, the watcher capturing on one end, frames sent from the other, and a
// working folder for the watcher's files. Skips when namespaces cannot be made.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "netns.h"
#include "process.h"

class SegmentTest : public ::testing::Test {
  protected:
    void SetUp() override;

    // Starts the built watcher with `option` in the working folder, answers the
    // adapter prompt with the watching end, and returns once it is listening:
    // frames sent from then on are captured.
    void start_watcher(BackgroundProcess& watcher, const std::string& option);
    // Sends frames (arp_send's FRAME texts) from the sending end.
    void send_frames(const std::vector<std::string>& frames);

    std::unique_ptr<NetNamespace> ns_;
    // The namespace is the test's own, so fixed names cannot collide.
    std::string watch_if_ = "qwatch";
    std::string send_if_ = "qsend";
    int adapter_ = 0;
    TempDir dir_;
};
