// Disk faults: a full file system during the download and during the unpack (a small tmpfs
// mounted over the launcher folder), a launcher folder and an application folder that refuse
// writes.
#include <unistd.h>

#include "fault_matrix.h"

namespace fault_matrix {
namespace {

// A tmpfs of `size` bytes mounted over `folder`, keeping what the folder held; unmounted at the end.
class SmallFileSystem {
 public:
  SmallFileSystem(fs::path folder, uintmax_t size, const fs::path& scratch) : folder_(std::move(folder)) {
    if (geteuid() != 0) return;
    const fs::path saved = scratch / "saved";
    fs::copy(folder_, saved, fs::copy_options::recursive);
    if (RunCommand({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(size), "tmpfs", folder_.string()})
            .exit_code != 0) {
      return;
    }
    mounted_ = true;
    fs::copy(saved, folder_, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  }
  ~SmallFileSystem() {
    if (mounted_) RunCommand({"umount", "-l", folder_.string()});
  }
  bool mounted() const { return mounted_; }
  bool Grow(uintmax_t size) {
    return RunCommand({"mount", "-o", "remount,size=" + std::to_string(size), folder_.string()}).exit_code == 0;
  }

 private:
  fs::path folder_;
  bool mounted_ = false;
};

// Bytes in use below `folder`.
uintmax_t UsedBytes(const fs::path& folder) {
  uintmax_t used = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) used += entry.file_size();
  }
  return used;
}

// Marks `folder` immutable (as root, permissions do not stop writes) for the guard's lifetime.
class ImmutableFolder {
 public:
  explicit ImmutableFolder(fs::path folder) : folder_(std::move(folder)) {
    locked_ = geteuid() == 0 && RunCommand({"chattr", "+i", folder_.string()}).exit_code == 0;
    if (!locked_ && geteuid() != 0) {
      fs::permissions(folder_, fs::perms(0555));
      locked_ = true;
    }
  }
  ~ImmutableFolder() {
    if (!locked_) return;
    if (geteuid() == 0) {
      RunCommand({"chattr", "-i", folder_.string()});
    } else {
      fs::permissions(folder_, fs::perms(0755));
    }
  }
  bool locked() const { return locked_; }

 private:
  fs::path folder_;
  bool locked_ = false;
};

class DiskFaultTest : public FaultRowTest {};

TEST_F(DiskFaultTest, FullFileSystemDuringTheDownload) {
  Row("disk: file system full during the download", "");
  const uintmax_t used = UsedBytes(sandbox.installed_folder());
  SmallFileSystem small(sandbox.installed_folder(), used + (1 << 20), scratch_.path());
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root in a mount namespace)";
  const fs::path archive = scratch_ / "big.zip";
  std::string content(4 << 20, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 2654435761u >> 13);
  WriteFile(archive, content);
  release_server.ServeFile(kArchivePath, archive);
  PublishManifest("2.0.0", release_server.Url(kArchivePath));
  RunExpecting({"UpdateZelkStep", "UpdateFailed",
                "Update failed: Download of new version failed, try again later",
                "[download(Download())] [error] libcurl result code: (23)", 0, false, "1.0.0"});
  EXPECT_TRUE(fs::exists(sandbox.application_folder() / "Zelk.exe")) << "the application is kept";
}

TEST_F(DiskFaultTest, FullFileSystemDuringTheUnpackThenRepairedOnTheNextRun) {
  Row("disk: file system full during the unpack, next run with space repairs", "");
  const uintmax_t used = UsedBytes(sandbox.installed_folder());
  SmallFileSystem small(sandbox.installed_folder(), used + (2 << 20), scratch_.path());
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs root in a mount namespace)";
  const fs::path archive = scratch_ / "large-unpacked.zip";
  ZipBuilder()
      .File("Zelk.exe", ReadFile(ZELK_FIXTURE_APP_EXE), 0755)
      .File("data/big.bin", std::string(8 << 20, '\0'))
      .File("version.txt", "2.0.0\n")
      .Write(archive);
  release_server.ServeFile(kArchivePath, archive);
  PublishManifest("2.0.0", release_server.Url(kArchivePath));
  RunExpecting({"UpdateZelkStep", "UpdateFailed", "Update failed: Failed extracting new zelk version",
                "No space left on device", 0, false, "-"});
  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "Zelk.zip")) << "the archive is deleted";

  ASSERT_TRUE(small.Grow(64 << 20));
  RunExpecting({"UpdateZelkStep", "ExtractingNewVersion", "succeeded", "Extraction completed", 0, true,
                "2.0.0"});
  EXPECT_EQ(fs::file_size(sandbox.application_folder() / "data" / "big.bin"), uintmax_t{8} << 20);
}

TEST_F(DiskFaultTest, ReadOnlyLauncherFolder) {
  Row("disk: read-only launcher folder with an update waiting", "");
  Publish("2.0.0");
  WriteFile(sandbox.installed_folder() / "Repair.desktop", "[Desktop Entry]\n");
  WriteFile(sandbox.installed_folder() / "Uninstall.desktop", "[Desktop Entry]\n");
  ImmutableFolder locked(sandbox.installed_folder());
  if (!locked.locked()) GTEST_SKIP() << "this file system cannot lock a folder";
  RunExpecting({"UpdateZelkStep", "UpdateFailed",
                "Update failed: Download of new version failed, try again later",
                "Cannot open the log file", 0, false, "1.0.0"});
  EXPECT_FALSE(fs::exists(sandbox.installed_folder() / "Zelk.zip"));
}

TEST_F(DiskFaultTest, ReadOnlyApplicationFolder) {
  Row("disk: read-only application folder with an update waiting", "");
  Publish("2.0.0");
  ImmutableFolder locked(sandbox.application_folder());
  if (!locked.locked()) GTEST_SKIP() << "this file system cannot lock a folder";
  RunExpecting({"UpdateZelkStep", "UpdateFailed", "Update failed: Failed extracting new zelk version",
                "[error] Failed to delete old installation: ", 0, false, "1.0.0"});
  EXPECT_TRUE(fs::exists(sandbox.application_folder() / "Zelk.exe"));
  // The install stops before the unpack; the next download truncates the archive.
  EXPECT_TRUE(fs::exists(sandbox.installed_folder() / "Zelk.zip"));
}

}  // namespace
}  // namespace fault_matrix
