#include "segment.h"

using std::chrono::seconds;

void SegmentTest::SetUp() {
    std::string reason = NetNamespace::unavailable_reason();
    if (!reason.empty()) GTEST_SKIP() << reason;
    ns_ = std::make_unique<NetNamespace>();
    ASSERT_TRUE(ns_->ok()) << ns_->error();
    ASSERT_TRUE(ns_->add_veth(watch_if_, send_if_));
    adapter_ = ns_->adapter_number(watch_if_);
    ASSERT_GT(adapter_, 0) << watch_if_ << " is not among the capture adapters";
    ASSERT_FALSE(dir_.path().empty());
}

void SegmentTest::start_watcher(BackgroundProcess& watcher, const std::string& option) {
    ProcessOptions options;
    options.cwd = dir_.path();
    options.stdin_text = std::to_string(adapter_) + "\n";
    ASSERT_TRUE(watcher.start(ns_->wrap({QUORVALE_MON_PATH, option}), options));
    ASSERT_TRUE(watcher.wait_for_stderr("listening on", seconds(20))) << watcher.err();
}

void SegmentTest::send_frames(const std::vector<std::string>& frames) {
    std::vector<std::string> argv = {tool_path("arp_send"), send_if_};
    argv.insert(argv.end(), frames.begin(), frames.end());
    ProcessResult r = run_process(ns_->wrap(argv), {}, seconds(20));
    ASSERT_TRUE(r.exited && r.exit_status == 0) << r.out << r.err;
    ASSERT_EQ(r.out, "sent " + std::to_string(frames.size()) + "\n");
}
