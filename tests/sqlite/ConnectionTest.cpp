// Opening, probing and re-pointing the SQLite component.
#include <fcntl.h>
#include <unistd.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <fstream>
#include <memory>
#include <vector>

#include "SqliteFixture.h"
#include "TesselWrapper/Errors.h"
#include "support/ComponentHelpers.h"
#include "support/FailureSorting.h"
#include "tessel/Backends.h"

namespace Tessel::Testing {
namespace {

using Sqlite::SqliteConnect;

TEST_F(SqliteTest, OpensLazilyAndTestAnswers) {
  const auto lazy = dir_ / "lazy.db";
  auto component = Sqlite::CreateSqliteConnect("sqlite:" + lazy.string(), "");
  EXPECT_FALSE(std::filesystem::exists(lazy)) << "nothing may be opened before first use";

  EXPECT_TRUE(component->Test()) << Message(*component);
  EXPECT_TRUE(std::filesystem::exists(lazy));
  EXPECT_NE(Message(*component).find(lazy.string()), std::string::npos);
}

TEST_F(SqliteTest, TestAnswersFalseForADatabaseThatCannotBeUsed) {
  std::ofstream(dir_ / "garbage.db") << "this is not an SQLite file, not even close: 0123456789abcdef";
  std::filesystem::create_directory(dir_ / "a-directory");
  struct Case {
    std::string path;
    std::string code;  // expected in the message
  } cases[] = {
      {(dir_ / "missing" / "dir" / "x.db").string(), "SQLITE_CANTOPEN"},
      {(dir_ / "a-directory").string(), "SQLITE_CANTOPEN"},
      {(dir_ / "garbage.db").string(), "SQLITE_NOTADB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SqliteConnect component("sqlite:" + c.path, "");
    bool answered = true;
    EXPECT_NO_THROW(answered = component.Test());
    EXPECT_FALSE(answered);
    EXPECT_NE(Message(component).find(c.path), std::string::npos) << Message(component);
    EXPECT_NE(Message(component).find(c.code), std::string::npos) << Message(component);
    // Everything else that needs the database reports it as an error.
    EXPECT_THROW(component.GetTable("anything"), DatabaseError);
  }
}

#ifndef _WIN32
// Takes every file descriptor the process may still open (under a lowered
// limit) until destroyed. POSIX only: Windows has no descriptor limit to
// lower.
class FileDescriptorsUsedUp {
 public:
  FileDescriptorsUsedUp() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = std::min<rlim_t>(saved_.rlim_cur, 512);
    setrlimit(RLIMIT_NOFILE, &lowered);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;) held_.push_back(fd);
  }
  ~FileDescriptorsUsedUp() {
    for (int fd : held_) ::close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }
  FileDescriptorsUsedUp(const FileDescriptorsUsedUp&) = delete;
  FileDescriptorsUsedUp& operator=(const FileDescriptorsUsedUp&) = delete;

 private:
  rlimit saved_{};
  std::vector<int> held_;
};
#endif

// Every failure sorted by one question: can the same call succeed later
// without anyone changing anything? Only then does a message ask for a rerun.
TEST_F(SqliteTest, FailuresAskForARerunOnlyWhenTheCauseMayPass) {
  Raw().Exec("CREATE TABLE cases (id INTEGER)");
  std::filesystem::create_directory(dir_ / "a-directory");
  const auto open = [](std::string connect) {
    return [connect] { return std::make_shared<SqliteConnect>(connect, ""); };
  };
  std::vector<ProvokedFailure> cases = {
      {"a folder that does not exist", open("sqlite:" + (dir_ / "missing" / "x.db").string()),
       ErrorCategory::Other, false, true},
      {"a file that does not exist, mode=rw", open("sqlite:" + (dir_ / "absent.db").string() + "?mode=rw"),
       ErrorCategory::Other, false, true},
      {"a folder where the file should be", open("sqlite:" + (dir_ / "a-directory").string()),
       ErrorCategory::Other, false, true},
      {"a database the caller opened read-only", open(ConnectionString("?mode=ro")), ErrorCategory::Other,
       false, false},
      {"another connection holds the lock",
       [&] {
         Raw().Exec("BEGIN EXCLUSIVE");
         return std::make_shared<SqliteConnect>(ConnectionString("?busy_timeout=50"), "");
       },
       ErrorCategory::Rerun, true, true},
  };
#ifndef _WIN32
  std::unique_ptr<FileDescriptorsUsedUp> noDescriptors;
  cases.insert(cases.end(), {
                                {"no file descriptor left",
                                 [&] {
                                   Raw().Exec("ROLLBACK");
                                   auto component = std::make_shared<SqliteConnect>(ConnectionString(), "");
                                   noDescriptors = std::make_unique<FileDescriptorsUsedUp>();
                                   return component;
                                 },
                                 ErrorCategory::Connection, true, true},
                                {"no file descriptor left for the journal of an open database",
                                 [&] {
                                   noDescriptors.reset();
                                   auto component = std::make_shared<SqliteConnect>(ConnectionString(), "");
                                   EXPECT_TRUE(component->Test()) << Message(*component);
                                   noDescriptors = std::make_unique<FileDescriptorsUsedUp>();
                                   return component;
                                 },
                                 ErrorCategory::Connection, true, false},
                            });
#endif
  for (const ProvokedFailure& c : cases) ExpectSorted(c);
#ifndef _WIN32
  noDescriptors.reset();
#else
  Raw().Exec("ROLLBACK");
#endif
  EXPECT_EQ(Raw().Query("SELECT count(*) FROM cases"), "0");
}

TEST_F(SqliteTest, NewConnectionStringClosesAndOpensTheNewFile) {
  Raw().Exec("CREATE TABLE only_in_first (id INTEGER)");
  SqliteConnect& component = Component();
  ASSERT_NE(component.GetTable("only_in_first"), nullptr);

  const auto second = dir_ / "second.db";
  component.SetConnectionString("sqlite:" + second.string());
  EXPECT_EQ(component.GetTable("only_in_first"), nullptr) << "still reading the first file";
  EXPECT_TRUE(std::filesystem::exists(second));

  component.SetConnectionString(ConnectionString());
  EXPECT_NE(component.GetTable("only_in_first"), nullptr);
}

TEST_F(SqliteTest, MemoryDatabaseIsPrivateToTheComponent) {
  SqliteConnect first("sqlite::memory:", "");
  SqliteConnect second("sqlite::memory:", "");
  EXPECT_TRUE(first.Test()) << Message(first);
  std::vector<std::shared_ptr<Data::DbParameter>> none;
  ManagedText output = std::string();
  // No catalogue anywhere: the routine is unknown in both, and neither sees
  // what the other holds.
  EXPECT_EQ(first.ExecuteStoredProcedure("anything", none, output), -1);
  EXPECT_EQ(second.GetTable("anything"), nullptr);
}

// An SQLite form that is broken is refused when the component is made.
TEST_F(SqliteTest, ABrokenSqliteConnectionStringIsAnArgumentError) {
  EXPECT_THROW(SqliteConnect("sqlite:", ""), ArgumentError);
  EXPECT_THROW(SqliteConnect("sqlite:x.db?busy_timeout=soon", ""), ArgumentError);
}

TEST_F(SqliteTest, TableSetNamesADatabaseOfTheConnection) {
  Raw().Exec("CREATE TABLE cases (id INTEGER)");
  {
    SqliteConnect main(ConnectionString(), "MAIN");  // SQLite matches database names without case
    EXPECT_TRUE(main.Test()) << Message(main);
    EXPECT_NE(main.GetTable("cases"), nullptr);
  }
  {
    SqliteConnect temp(ConnectionString(), "temp");
    EXPECT_TRUE(temp.Test()) << Message(temp);
    EXPECT_EQ(temp.GetTable("cases"), nullptr) << "a main table seen through the temp table set";
  }
  {
    SqliteConnect unknown(ConnectionString(), "elsewhere");
    EXPECT_FALSE(unknown.Test());
    EXPECT_NE(Message(unknown).find("'elsewhere'"), std::string::npos) << Message(unknown);
    EXPECT_THROW(unknown.GetTable("cases"), ArgumentError);
  }
}

}  // namespace
}  // namespace Tessel::Testing
