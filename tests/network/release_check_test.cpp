#include "network/release_check.h"

#include <gtest/gtest.h>

#include "network_fixture.h"
#include "shell/log.h"

namespace {

TEST(ManifestTextTest, TrimsExactlyTheSixAsciiWhiteSpaceCharacters) {
  const struct {
    std::string input;
    std::string expected;
  } cases[] = {
      {"  6 ", "6"},
      {" \t\n\v\f\r5\r\n\f\v\t ", "5"},
      {"1 . 2", "1 . 2"},                                   // inside stays
      {"\xC2\xA0" "5\xC2\xA0", "\xC2\xA0" "5\xC2\xA0"},     // no-break space is not ASCII
      {std::string("\0" "5", 2), std::string("\0" "5", 2)}, // nor is NUL white space
      {"\x1C" "5", "\x1C" "5"},
      {" \r\n ", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TrimAsciiWhitespace(c.input), c.expected) << c.input;
}

TEST(ManifestTextTest, SplitsTheFirstTwoLinesAtLineFeeds) {
  const struct {
    std::string manifest;
    std::string line1;
    std::string line2;
  } cases[] = {
      {"5\nhttps://h/a.exe\nignored\n", "5", "https://h/a.exe"},
      {"5\r\nhttps://h/a.exe\r\n", "5\r", "https://h/a.exe\r"},
      {"6", "6", ""},
      {"6\n", "6", ""},
      {"\nurl", "", "url"},
      {"", "", ""},
      {"5\r2\n", "5\r2", ""},  // a lone carriage return does not end a line
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ManifestLine1(c.manifest), c.line1) << c.manifest;
    EXPECT_EQ(ManifestLine2(c.manifest), c.line2) << c.manifest;
  }
}

TEST(ManifestTextTest, ReadsTheFirstLineAsTextModeDoes) {
  const struct {
    std::string content;
    std::string line;
  } cases[] = {
      {"1.2.3\r\n", "1.2.3"},   {"1.2.3 \n", "1.2.3 "}, {"1.2.3\n4\n", "1.2.3"},
      {"1.2.3", "1.2.3"},       {"\r\n1.2.3", ""},     {"1.2.3\r\r\n", "1.2.3\r"},
      {" 1.2.3\t\n", " 1.2.3\t"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(FirstTextLine(c.content), c.line) << c.content;
}

using ReleaseCheckTest = NetworkTest;

TEST_F(ReleaseCheckTest, TheReleaseServerAddressComesFromTheEnvironmentOnEveryCall) {
  environment_.Unset("ZELK_RELEASE_SERVER_URL");
  EXPECT_EQ(ReleaseServerBaseUrl(), ZELK_DEFAULT_RELEASE_SERVER_URL);
  EXPECT_EQ(ManifestUrl(kZelkManifestPath), ZELK_DEFAULT_RELEASE_SERVER_URL "/core/ZelkRelease.txt");
  environment_.Set("ZELK_RELEASE_SERVER_URL", "https://127.0.0.1:4433");
  EXPECT_EQ(ManifestUrl(kLauncherManifestPath), "https://127.0.0.1:4433/core/LauncherRelease.txt");
  environment_.Set("ZELK_RELEASE_SERVER_URL", "");  // set wins, whatever it holds
  EXPECT_EQ(ManifestUrl(kLauncherManifestPath), "/core/LauncherRelease.txt");
}

TEST_F(ReleaseCheckTest, LauncherCheck) {
  const std::string url = "https://downloads.example.net/ZelkLauncher.exe";
  const struct {
    const char* name;
    int status;
    std::string manifest;
    std::string answer;
    std::string available_version;
    std::vector<LogLine> log;
  } cases[] = {
      {"same version, CR LF", 200, "5\r\n" + url + "\r\n", "", "5",
       {{"class SelfUpdateStep", "info", "Checking versions. Current 5, available 5"},
        {"class SelfUpdateStep", "info", "Update not needed"}}},
      {"padded newer version", 200, "  6 \n" + url + "  \nextra\n", url, "6",
       {{"class SelfUpdateStep", "info", "Checking versions. Current 5, available 6"},
        {"class SelfUpdateStep", "info", "Update needed, url " + url}}},
      {"5.0 is another text", 200, "5.0\n" + url, url, "5.0",
       {{"class SelfUpdateStep", "info", "Checking versions. Current 5, available 5.0"},
        {"class SelfUpdateStep", "info", "Update needed, url " + url}}},
      {"older version", 200, "4\n" + url + "\n", url, "4",
       {{"class SelfUpdateStep", "info", "Checking versions. Current 5, available 4"},
        {"class SelfUpdateStep", "info", "Update needed, url " + url}}},
      {"only line 1", 200, "6", "", "6",
       {{"class SelfUpdateStep", "info", "Checking versions. Current 5, available 6"},
        {"class SelfUpdateStep", "info", "Update needed, url "}}},
      {"line 2 is the marker", 200, "6\n_COULD_NOT_FETCH_UPDATE_\n", "_COULD_NOT_FETCH_UPDATE_", "6",
       {{"class SelfUpdateStep", "info", "Checking versions. Current 5, available 6"},
        {"class SelfUpdateStep", "info", "Update needed, url _COULD_NOT_FETCH_UPDATE_"}}},
  };
  for (const auto& c : cases) {
    HttpsServer server(certificate_);
    server.ServeText("/core/LauncherRelease.txt", c.manifest);
    server.Start();
    environment_.Set("ZELK_RELEASE_SERVER_URL", server.base_url());
    log_.Clear();
    const Logger logger = CreateLogger("class SelfUpdateStep");
    nlohmann::json record = {{"result", "succeeded"}};

    LauncherReleaseCheck check;
    EXPECT_EQ(check.CheckLauncherRelease(*logger, record), c.answer) << c.name;
    EXPECT_EQ(check.available_version, c.available_version) << c.name;
    EXPECT_EQ(log_.lines("class SelfUpdateStep"), c.log) << c.name;
    EXPECT_EQ(record["result"], "succeeded") << c.name;
    ASSERT_EQ(server.request_count(), 1u);
    EXPECT_EQ(server.requests()[0].path, "/core/LauncherRelease.txt");
  }
}

TEST_F(ReleaseCheckTest, AnUnavailableLauncherManifestAnswersTheMarker) {
  const struct {
    const char* name;
    int status;
    std::string body;
  } cases[] = {
      {"not found", 404, "5\nhttps://h/x.exe\n"},
      {"empty", 200, ""},
      {"no server", 0, ""},
  };
  for (const auto& c : cases) {
    HttpsServer server(certificate_);
    server.server().Get("/core/LauncherRelease.txt",
                        [&c](const httplib::Request&, httplib::Response& response) {
                          response.status = c.status;
                          response.set_content(c.body, "text/plain");
                        });
    server.Start();
    environment_.Set("ZELK_RELEASE_SERVER_URL", server.base_url());
    if (c.status == 0) server.Stop();
    log_.Clear();
    const Logger logger = CreateLogger("class SelfUpdateStep");
    nlohmann::json record = {{"result", "succeeded"}};

    LauncherReleaseCheck check;
    check.available_version = "kept";
    EXPECT_EQ(check.CheckLauncherRelease(*logger, record), kCouldNotFetchUpdate) << c.name;
    EXPECT_EQ(check.available_version, "kept") << c.name;
    EXPECT_EQ(record["result"], "Update info for launcher not available") << c.name;
    EXPECT_EQ(log_.lines("class SelfUpdateStep"),
              (std::vector<LogLine>{
                  {"class SelfUpdateStep", "error", "Update info for launcher not available"}}))
        << c.name;
  }
}

TEST_F(ReleaseCheckTest, ApplicationCheck) {
  const std::string url = "https://downloads.example.net/Zelk.zip";
  const struct {
    const char* name;
    std::optional<std::string> version_file;  // nothing: no application folder
    int status;                               // 0: no server
    std::string manifest;
    std::string answer;
    std::string installed;
    std::string available;
    std::string versions_line;
    std::string decision_line;
  } cases[] = {
      {"same version, CR LF both", "1.2.3\r\n", 200, "1.2.3\r\n" + url + "\r\n", "", "1.2.3",
       "1.2.3", "Checking versions. Current 1.2.3, available 1.2.3", "Update not needed"},
      {"trailing space never equals", "1.2.3 ", 200, "1.2.3\n" + url, url, "1.2.3 ", "1.2.3",
       "Checking versions. Current 1.2.3 , available 1.2.3", "Update needed, url " + url},
      {"first installation", std::nullopt, 200, "1.2.3\n" + url + "  \n", url, "", "1.2.3",
       "Checking versions. Current , available 1.2.3", "Update needed, url " + url},
      {"downgrade", "2.0\nsecond line\n", 200, "1.9\n" + url, url, "2.0", "1.9",
       "Checking versions. Current 2.0, available 1.9", "Update needed, url " + url},
      {"only line 1", "1.0", 200, "1.1", "", "1.0", "1.1",
       "Checking versions. Current 1.0, available 1.1", "Update needed, url "},
      {"manifest not found", "1.0", 404, "1.1\n" + url, "", "1.0", "",
       "Checking versions. Current 1.0, available ", "Update needed, url "},
      {"empty manifest", "1.0", 200, "", "", "1.0", "", "Checking versions. Current 1.0, available ",
       "Update needed, url "},
      {"empty version file", "", 404, "", "", "", "", "Checking versions. Current , available ",
       "Update not needed"},
      {"no application folder and no server", std::nullopt, 0, "", "", "", "",
       "Checking versions. Current , available ", "Update not needed"},
      {"braces are not placeholders", "{}", 200, "{}{}\n" + url, url, "{}", "{}{}",
       "Checking versions. Current {}, available {}{}", "Update needed, url " + url},
  };
  for (const auto& c : cases) {
    TempFolder launcher_folder;
    if (c.version_file) {
      std::filesystem::create_directory(launcher_folder / "Zelk");
      WriteFile(launcher_folder / "Zelk" / "version.txt", *c.version_file);
    }
    HttpsServer server(certificate_);
    server.server().Get("/core/ZelkRelease.txt",
                        [&c](const httplib::Request&, httplib::Response& response) {
                          response.status = c.status;
                          response.set_content(c.manifest, "text/plain");
                        });
    server.Start();
    environment_.Set("ZELK_RELEASE_SERVER_URL", server.base_url());
    if (c.status == 0) server.Stop();
    log_.Clear();
    const Logger logger = CreateLogger("class UpdateZelkStep");

    ZelkReleaseCheck check(launcher_folder.path());
    EXPECT_EQ(check.CheckZelkRelease(*logger), c.answer) << c.name;
    EXPECT_EQ(check.installed_version, c.installed) << c.name;
    EXPECT_EQ(check.available_version, c.available) << c.name;
    const std::string version_path = (launcher_folder / "Zelk" / "version.txt").string();
    EXPECT_EQ(log_.lines("class UpdateZelkStep"),
              (std::vector<LogLine>{{"class UpdateZelkStep", "debug", version_path},
                                    {"class UpdateZelkStep", "info", c.versions_line},
                                    {"class UpdateZelkStep", "info", c.decision_line}}))
        << c.name;
  }
}

TEST_F(ReleaseCheckTest, InstalledVersionOfAnUnreadableFileIsEmpty) {
  std::filesystem::create_directories(folder_ / "Zelk" / "version.txt");  // a folder, not a file
  const Logger logger = CreateLogger("class UpdateZelkStep");
  EXPECT_EQ(ZelkReleaseCheck(folder_.path()).ReadInstalledVersion(*logger), "");
}

}  // namespace
