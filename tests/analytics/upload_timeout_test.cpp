#include <gtest/gtest.h>

#include <condition_variable>

#include "analytics/analytics_manager.h"
#include "analytics_test_env.h"

// A receiver that takes the request but answers only after 4 seconds (or once the test is done
// with it).
class SlowReceiverTest : public AnalyticsTest {
 protected:
  void Answer(httplib::Response& response) override {
    std::unique_lock lock(mutex_);
    released_cv_.wait_for(lock, std::chrono::seconds(4), [&] { return released_; });
    response.status = 200;
  }
  void TearDown() override {
    Release();
    receiver_.reset();  // waits for the handler, which uses the members below
  }
  void Release() {
    {
      std::lock_guard lock(mutex_);
      released_ = true;
    }
    released_cv_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_cv_;
  bool released_ = false;
};

TEST_F(SlowReceiverTest, UploadGivesUpAfterThreeSeconds) {
  {
    AnalyticsManager manager;
    manager.AddRecord(nlohmann::json::object());
    manager.SendRecords();
  }
  Release();

  EXPECT_EQ(receiver_->request_count(), 1u);
  const int code = log_.Find("[class AnalyticsManager] [error] libcurl result code: (28)");
  ASSERT_NE(code, -1);
  const auto lines = log_.lines();
  ASSERT_GT(lines.size(), static_cast<size_t>(code + 2));
  EXPECT_NE(lines[code + 1].message.find("timed out after 3"), std::string::npos) << lines[code + 1];
  EXPECT_EQ(lines[code + 2].Text(), "[class AnalyticsManager] [error] Could not send analytics data!");
}
