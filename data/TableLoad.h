// The bridge's ways into a DataTable for its two roads of row transfer, which
// fill tables of a million rows one field at a time: the conversions, rules
// and errors of DataRow::Set and Rows().Add, without what one write through
// them costs on top of the store itself (a DataRow and its shared ownership
// per record, a value variant per field, the field's name converted to
// managed text and looked up every time). Shared with the whole library.
#pragma once

#include <condition_variable>
#if !defined(_WIN32)
#include <locale.h>
#endif

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <typeinfo>

#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/data/Value.h"
#include "data/ColumnStore.h"

namespace Tessel::Data::detail {

// Whether every byte of `text` belongs to the portable character set
// (printable ASCII, tab, line feed, carriage return), which every locale the
// C library offers encodes alike: such native text is managed text as it
// stands, whatever the locale's character set.
inline bool IsPortableText(std::string_view text) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t n = text.size();
  // Eight bytes at a time while none is below 0x20 or above 0x7E.
  constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    if ((((x - kOnes * 0x20) & ~x) | ((x + kOnes * (127 - 0x7E)) | x)) & kHigh) break;
  }
  for (; n != 0; ++p, --n) {
    const unsigned char c = *p;
    if ((c < 0x20 || c > 0x7E) && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return true;
}

// The locale's answer to Text::NativeIsUtf8(), asked once per call at most,
// and only when some text of the call is not portable (IsPortableText).
class NativeCharset {
 public:
  NativeCharset() = default;
  explicit NativeCharset(bool isUtf8) noexcept : known_(true), utf8_(isUtf8) {}
  bool IsUtf8() {
    if (!known_) {
      utf8_ = Text::NativeIsUtf8();
      known_ = true;
    }
    return utf8_;
  }

 private:
  bool known_ = false;
  bool utf8_ = false;
};

// Native text as managed text, exactly as Text::NativeToManagedView gives
// it: portable text and, under a UTF-8 locale, well-formed UTF-8 are used
// where they are; anything else takes the general conversion into
// `scratch`. A null pointer gives "".
std::string_view NativeTextView(const char* native, NativeCharset& charset, std::string& scratch);

// row.Set(column, value) for a column named in native text (NUL-terminated):
// the name converted as NativeTextView converts it, looked up, the value
// stored, each step failing as there. The name the lookup expects next is
// compared with the native bytes as they are, before any conversion.
void SetField(DataRow& row, const char* nativeName, NativeCharset& charset, const ValueView& value);

// Appends records to a table and fills them by column index. Each Set stores
// as DataRow::Set(column, value) would; Add adds as Rows().Add would. No
// DataRow is made: the loader must not outlive its table.
class RecordLoader {
 public:
  explicit RecordLoader(DataTable& table) noexcept : table_(table) {}

  // Room for `count` more records and rows, made at once rather than as
  // they come.
  void Reserve(std::size_t count);
  // A new record holding every column's default, as NewRow makes it.
  RecordId NewRecord();
  void SetInt32(RecordId record, std::size_t column, std::int32_t value);
  void SetDouble(RecordId record, std::size_t column, double value);
  void SetDateTime(RecordId record, std::size_t column, DateTime value);
  void SetText(RecordId record, std::size_t column, std::string_view value);
  // Any value, converted as DataRow::Set(column, value) converts it.
  void Set(RecordId record, std::size_t column, const ValueView& value);
  void Add(RecordId record);

 private:
  DataTable& table_;
};

// A table filled by one thread while a writer on another writes the rows
// already made, so that making the rows and writing them overlap. The filling
// thread (the producer) adds records through a RecordLoader after Reserve
// made room for all of them, so that no column's cells and no row list move
// while they are read; what still may move (a column's text arena as it
// grows, the wide form of a column) moves only while no writer holds a
// Lease.
//
// Until a writer claims the feed, the table must look to whatever reads it
// as a finished table with at least one row: the producer stops after the
// first rows it publishes and goes on only once claimed. A writer that has
// claimed the feed must not end a write as a success before Rows reported
// the producer finished without failure, and must end it as a failure, with
// nothing written, when Rows reports a failure.
//
// Only writers that know the feed may be handed a table that has one
// (AcceptsTableFeeds): any other would write the first rows only.
class TableFeed final : private MoveGuard {
 public:
  // Attaches the feed to `table` (FeedOf finds it) until destroyed.
  explicit TableFeed(DataTable& table);
  ~TableFeed();
  TableFeed(const TableFeed&) = delete;
  TableFeed& operator=(const TableFeed&) = delete;

  // --- the producer ----------------------------------------------------
  // The table now holds `rows` rows. Waits, the first time, until claimed.
  void Publish(std::size_t rows);
  // No more rows will come; `failed`: the producer stopped on an error.
  void Finish(bool failed) noexcept;

  // --- the caller that hands the table to a writer -----------------------
  // Waits until the table holds a row or the producer finished; true when
  // it finished on an error.
  bool WaitForFirstRow();
  // Lets the producer go on (a writer claims by asking for rows; the caller
  // claims after the write, whatever became of it, so that the producer
  // always gets to its end).
  void Claim();

  // --- writers ---------------------------------------------------------
  // The rows the table holds, in row order: at least `count` of them unless
  // the producer finished first, waiting until then. `failed` is set when
  // the producer stopped on an error: no row will come any more.
  std::span<const RecordId> Rows(std::size_t count, bool& failed);
  // Held while a writer uses pointers into the table's cells or bytes. Never
  // held while waiting in Rows, which could wait for a producer waiting for
  // the lease to end. A producer about to move a column waits for the lease
  // held now and none taken after it.
  std::shared_lock<std::shared_mutex> Lease();

 private:
  void BeginMove() override;
  void EndMove() noexcept override;

  DataTable& table_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t published_ = 0;
  bool claimed_ = false;
  bool finished_ = false;
  bool failed_ = false;
  bool moving_ = false;  // a producer waits to move a column, or moves it
  std::shared_mutex moves_;
};

// The feed attached to `table`; null when it is complete as it is.
TableFeed* FeedOf(const DataTable& table) noexcept;

// The rows a writer writes, in row order: all of a table's at once, or, from
// a table with a feed, as they are made.
class RowsToWrite {
 public:
  explicit RowsToWrite(const DataTable& table) noexcept : table_(table), feed_(FeedOf(table)) {}

  bool Streamed() const noexcept { return feed_ != nullptr; }
  // The rows there are: at least `count` unless there are no more. False
  // when the rows could not all be made: the write must end as a failure.
  bool Upto(std::size_t count, std::span<const RecordId>& rows) {
    if (feed_ == nullptr) {
      rows = table_.Rows().Records();
      return true;
    }
    bool failed = false;
    rows = feed_->Rows(count, failed);
    return !failed;
  }
  // Held while pointers into the cells read are in use (see TableFeed).
  std::shared_lock<std::shared_mutex> Lease() {
    return feed_ != nullptr ? feed_->Lease() : std::shared_lock<std::shared_mutex>();
  }

 private:
  const DataTable& table_;
  TableFeed* feed_;
};

// The locale of the thread that makes it, for a thread of the library's own
// to take on: native text converts by the thread's locale.
class CallerLocale {
 public:
  void Adopt() const noexcept;

 private:
#if !defined(_WIN32)  // there, native text follows the process's code page
  locale_t locale_ = uselocale(static_cast<locale_t>(nullptr));
#endif
};

// Tables filled on one thread and taken, one after the other, by a thread of
// its own (a writer), so that filling the next table and taking the last one
// overlap. The hand-off is a meeting: Put waits until the taker has finished
// with the table before, so that at most two tables are alive at a time, the
// one being taken and the one being filled. The taking thread runs under the
// locale of the thread that made the hand-off, which decides how native text
// converts.
class TableHandOff {
 public:
  // Takes one table; false stops the hand-off (a write that failed).
  using Taker = std::function<bool(DataTable& table)>;

  explicit TableHandOff(Taker take);
  // Waits for the taker to finish (as Finish, without rethrowing).
  ~TableHandOff();
  TableHandOff(const TableHandOff&) = delete;
  TableHandOff& operator=(const TableHandOff&) = delete;

  // Hands `table` over once the taker has finished with the table before.
  // False when the taker has stopped (it returned false or threw): `table`
  // is not taken, nor will any later table be.
  bool Put(std::shared_ptr<DataTable> table);
  // Waits until the taker has finished with every table handed over. False
  // when it stopped; rethrows what it threw.
  bool Finish();

 private:
  void Run();

  Taker take_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::shared_ptr<DataTable> next_;  // handed over, not yet taken
  bool busy_ = false;                // the taker is at a table
  bool closed_ = false;              // no more tables will come
  bool stopped_ = false;             // the taker takes no more
  std::exception_ptr failure_;
  std::thread thread_;
};

// Whether records `a` and `b` of `table` hold the same key in `columns`, as
// the table's unique rules compare keys (UniqueIndex): a null cell collides
// with nothing. For a table without the rule itself (a batch, a probe).
bool SameKey(const DataTable& table, std::span<const std::size_t> columns, RecordId a, RecordId b);

// The components (by exact type) whose writers take tables with a feed.
void AcceptTableFeeds(const std::type_info& component);
bool AcceptsTableFeeds(const std::type_info& component) noexcept;

}  // namespace Tessel::Data::detail
