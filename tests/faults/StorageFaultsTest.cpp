// An SQLite file whose storage refuses the write: a full disk and a
// read-only file, each made real rather than simulated where the machine
// allows it, on both roads. The write must fail, leave the file intact and
// empty of the table's rows, and, once the cause is mended outside the
// program, the caller's rerun through the same bridge must write every row
// exactly once. A full disk may pass by itself: its failure asks for a rerun
// and both roads keep the caller's rows. A read-only file stays so until
// someone acts: its failure asks for no rerun; the queued road keeps its
// records for the caller to send again, the staging road lets its rows go
// and says so.
//
// How each fault is made:
//   full disk, tmpfs     the file lives on a tmpfs shrunk below what the
//                        write needs (ENOSPC); mended by growing it again.
//                        Needs root and mount(2).
//   full disk, page      the bridge's own connection is limited to the pages
//   limit                it has (PRAGMA max_page_count, run as a routine of
//                        tessel_procedures); mended by raising the limit.
//                        Runs anywhere.
//   read-only file       the folder is a tmpfs remounted read-only (root
//                        ignores file permissions, not a read-only mount);
//                        without root, the file's permission bits (chmod
//                        0444). Mended by remounting read-write / chmod 0644.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>

#include "RoadWriter.h"
#include "TesselWrapper/IConnectWrapper.h"
#include "support/BridgeHandle.h"
#include "support/Contains.h"
#include "support/RawSqlite.h"

namespace Tessel::Faults {
namespace {

constexpr int kRows = 2000;
constexpr std::size_t kNoteBytes = 600;  // 2000 rows of 600 bytes: about 1.3 MB

// A fresh folder, removed with everything in it at the end.
class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tessel-storage-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~Folder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Where the database file lives, and how its storage is made to refuse
// writes and mended again.
class Storage {
 public:
  virtual ~Storage() = default;
  // Empty when this storage can be had here; else why not.
  virtual std::string Unavailable() const = 0;
  virtual std::string DatabasePath() const = 0;
  // Called with no connection to the file open for writing (a mount cannot
  // turn read-only under an open writer), and again once the bridge is
  // loaded, for faults that need its connection.
  virtual void Break(IConnectWrapper& /*bridge*/) {}
  virtual void BreakBeforeUse() {}
  virtual void Mend(IConnectWrapper& bridge) = 0;
  // The SQLite code the failed write must name.
  virtual std::string Code() const = 0;
  // Whether the cause may pass without anyone acting (a full disk may be
  // freed by others), so that the failure asks for a rerun.
  bool MayPass() const { return Code() != "SQLITE_READONLY"; }
};

// A tmpfs mounted on a fresh folder, unmounted at the end.
class Tmpfs {
 public:
  Tmpfs() {
    if (geteuid() != 0) {
      why_ = "making a tmpfs needs root";
      return;
    }
    if (folder_.path().empty()) {
      why_ = "cannot make a folder to mount on";
      return;
    }
    if (::mount("tessel-fault", folder_.path().c_str(), "tmpfs", 0, "size=32m,mode=0755") != 0) {
      why_ = std::string("mount -t tmpfs failed: ") + std::strerror(errno) + " (no CAP_SYS_ADMIN here?)";
      return;
    }
    mounted_ = true;
  }
  ~Tmpfs() {
    if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
  }
  const std::string& why() const { return why_; }
  const std::string& path() const { return folder_.path(); }
  // Remounts with other options ("size=128k", "ro", "rw"); false with the
  // reason as a test failure when it cannot.
  bool Remount(const std::string& options, unsigned long flags = 0) {
    const int rc =
        ::mount("tessel-fault", folder_.path().c_str(), "tmpfs", MS_REMOUNT | flags, options.c_str());
    EXPECT_EQ(rc, 0) << "remount " << options << ": " << std::strerror(errno);
    return rc == 0;
  }

 private:
  Folder folder_;
  std::string why_;
  bool mounted_ = false;
};

// The file on a tmpfs that is remounted with `broken` options (and flags)
// to make the fault, and with `mended` ones to mend it.
class TmpfsFault : public Storage {
 public:
  TmpfsFault(std::string broken, unsigned long brokenFlags, std::string mended, std::string code)
      : broken_(std::move(broken)),
        brokenFlags_(brokenFlags),
        mended_(std::move(mended)),
        code_(std::move(code)) {}
  std::string Unavailable() const override { return tmpfs_.why(); }
  std::string DatabasePath() const override { return tmpfs_.path() + "/faults.db"; }
  void BreakBeforeUse() override { tmpfs_.Remount(broken_, brokenFlags_); }
  void Mend(IConnectWrapper&) override { tmpfs_.Remount(mended_); }
  std::string Code() const override { return code_; }

 private:
  Tmpfs tmpfs_;
  std::string broken_;
  unsigned long brokenFlags_;
  std::string mended_;
  std::string code_;
};

class PageLimitFullDisk : public Storage {
 public:
  std::string Unavailable() const override { return folder_.path().empty() ? "no temporary folder" : ""; }
  std::string DatabasePath() const override { return folder_.path() + "/faults.db"; }
  void Break(IConnectWrapper& bridge) override { SetLimit(bridge, 1); }  // taken as the file's size
  void Mend(IConnectWrapper& bridge) override { SetLimit(bridge, 1073741823); }
  std::string Code() const override { return "SQLITE_FULL"; }

 private:
  void SetLimit(IConnectWrapper& bridge, long pages) {
    {
      Testing::RawSqlite raw(DatabasePath());
      raw.Exec(
          "CREATE TABLE IF NOT EXISTS tessel_procedures (name TEXT PRIMARY KEY, body TEXT NOT NULL);"
          "INSERT OR REPLACE INTO tessel_procedures VALUES ('set_page_limit', "
          "'PRAGMA max_page_count = " +
          std::to_string(pages) + "')");
    }
    std::string output;
    ASSERT_NE(bridge.ExecuteStoredProcedure("set_page_limit", {}, &output), -1) << bridge.GetMessage();
  }

  Folder folder_;
};

// Only for a caller that file permissions bind: root writes a 0444 file.
class ReadOnlyPermissions : public Storage {
 public:
  std::string Unavailable() const override {
    if (geteuid() == 0) return "root ignores file permissions (the read-only mount covers root)";
    return folder_.path().empty() ? "no temporary folder" : "";
  }
  std::string DatabasePath() const override { return folder_.path() + "/faults.db"; }
  void BreakBeforeUse() override {
    ASSERT_EQ(::chmod(DatabasePath().c_str(), 0444), 0) << std::strerror(errno);
  }
  void Mend(IConnectWrapper&) override {
    ASSERT_EQ(::chmod(DatabasePath().c_str(), 0644), 0) << std::strerror(errno);
  }
  std::string Code() const override { return "SQLITE_READONLY"; }

 private:
  Folder folder_;
};

struct Way {
  const char* label;
  std::function<std::unique_ptr<Storage>()> make;
};

class StorageFaults : public ::testing::TestWithParam<Road> {
 protected:
  // Runs the fault every way this machine allows; skips, saying why, when it
  // allows none.
  void RunEveryWay(std::initializer_list<Way> ways) {
    int ran = 0;
    std::string skipped;
    for (const Way& way : ways) {
      std::unique_ptr<Storage> storage = way.make();
      if (const std::string why = storage->Unavailable(); !why.empty()) {
        skipped += std::string("\n  ") + way.label + ": " + why;
        continue;
      }
      SCOPED_TRACE(way.label);
      ++ran;
      Run(*storage);
      if (HasFatalFailure()) return;
    }
    if (!skipped.empty()) std::printf("not run on this machine:%s\n", skipped.c_str());
    if (ran == 0) GTEST_SKIP() << "no way to cause this fault here:" << skipped;
  }

 private:
  void Run(Storage& storage) {
    const Road road = GetParam();
    const std::string path = storage.DatabasePath();
    {
      Testing::RawSqlite raw(path);
      raw.Exec("CREATE TABLE items (id INTEGER NOT NULL, writer INTEGER, x REAL, note TEXT NOT NULL)");
    }
    storage.BreakBeforeUse();
    Testing::BridgeHandle bridge = Testing::NewBridge();
    bridge->LoadObject("sqlite:" + path, "");
    storage.Break(*bridge);
    if (HasFatalFailure()) return;

    RoadWriter writer(*bridge, road, "items");
    writer.Prepare(1, kRows, kNoteBytes);
    EXPECT_FALSE(writer.Write()) << "the write went through despite the fault";
    const std::string message = writer.Message();
    EXPECT_EQ(Testing::Contains(message, kRerunTransaction), storage.MayPass()) << message;
    EXPECT_TRUE(Testing::Contains(message, storage.Code())) << message;
    EXPECT_EQ(writer.written, 0);
    if (road == Road::Queued) {
      EXPECT_EQ(writer.Queued(), static_cast<std::size_t>(kRows));
    }
    {
      Testing::RawSqlite check(path);
      EXPECT_EQ(check.One("PRAGMA integrity_check"), "ok");
      EXPECT_EQ(check.One("SELECT count(*) FROM items"), "0") << "the failed write left rows behind";
    }
    if (!storage.MayPass() && road == Road::Staging) {
      EXPECT_TRUE(Testing::Contains(message, "discarded")) << message;
      return;
    }

    storage.Mend(*bridge);
    EXPECT_TRUE(writer.Write()) << "the rerun after the cause was mended failed: " << writer.Message();
    EXPECT_EQ(writer.written, kRows);
    if (road == Road::Queued) {
      EXPECT_EQ(writer.Queued(), 0u);
    }
    bridge.reset();
    Testing::RawSqlite check(path);
    EXPECT_EQ(check.One("PRAGMA integrity_check"), "ok");
    EXPECT_EQ(check.Query(RowsCheckSql("items")), RowsCheckExpected(1, kRows));
  }
};

TEST_P(StorageFaults, FullDisk) {
  RunEveryWay({
      // Far less room than the rows need, more than the empty table takes.
      {"tmpfs", [] { return std::make_unique<TmpfsFault>("size=160k", 0, "size=32m", "SQLITE_FULL"); }},
      {"page limit", [] { return std::make_unique<PageLimitFullDisk>(); }},
  });
}

TEST_P(StorageFaults, ReadOnlyFile) {
  RunEveryWay({
      {"read-only mount", [] { return std::make_unique<TmpfsFault>("", MS_RDONLY, "", "SQLITE_READONLY"); }},
      {"permissions", [] { return std::make_unique<ReadOnlyPermissions>(); }},
  });
}

INSTANTIATE_TEST_SUITE_P(Roads, StorageFaults, ::testing::Values(Road::Staging, Road::Queued),
                         [](const ::testing::TestParamInfo<Road>& info) {
                           return std::string(info.param == Road::Staging ? "Staging" : "Queued");
                         });

}  // namespace
}  // namespace Tessel::Faults
