// The queued road: a queue of native row records becomes one table that the
// component writes in a single call.
//
// The records are read where they are and leave the queue only once their
// rows are in the database: a record that cannot be stored, a write the
// database refuses or asks to rerun, or any error on the way leaves the
// caller's queue exactly as it was, so that the caller can mend it or run the
// same call again and every row is written once. The price is that the
// records and the table coexist until the write. A long queue bound for a
// backend whose writer can take rows as they are made is converted on a
// thread of its own meanwhile, with the same outcome in every case.
#include <array>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <queue>
#include <string>
#include <string_view>
#include <thread>
#include <typeinfo>
#include <vector>

#include "TesselWrapper/ConnectWrapper.h"
#include "TesselWrapper/Errors.h"
#include "TesselWrapper/SqlRow.h"
#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/data/DataTable.h"
#include "TesselWrapper/data/DateTime.h"
#include "TesselWrapper/data/Text.h"
#include "TesselWrapper/data/Value.h"
#include "bridge/ErrorContext.h"
#include "bridge/Int32Wire.h"
#include "bridge/ShapeRefresh.h"
#include "bridge/Trace.h"
#include "data/Quoted.h"
#include "data/TableLoad.h"

namespace {

using Tessel::Data::ValueView;

// The kinds of value a field type name calls for. Date and DateTime are one
// kind, and so are Text and Memo.
enum class FieldKind { Double, LongInteger, ShortInteger, Date, Text, Unknown };

// The seven type names with the kind each calls for, in the order in which
// a type name is matched against them.
struct TypeName {
  std::string_view name;
  FieldKind kind;
};

const std::array<TypeName, 7>& TypeNames() {
  static const std::array<TypeName, 7> names = {{
      {ConnectWrapper::m_lpszDOUBLE, FieldKind::Double},
      {ConnectWrapper::m_lpszLONGINTEGER, FieldKind::LongInteger},
      {ConnectWrapper::m_lpszSHORTINTEGER, FieldKind::ShortInteger},
      {ConnectWrapper::m_lpszDATE, FieldKind::Date},
      {ConnectWrapper::m_lpszDATETIME, FieldKind::Date},
      {ConnectWrapper::m_lpszTEXT, FieldKind::Text},
      {ConnectWrapper::m_lpszMEMO, FieldKind::Text},
  }};
  return names;
}

// Runs once per field. Callers nearly always use the constants themselves,
// so an exact match is tried before the comparison that ignores case; the
// length rules out most names before any character is compared.
FieldKind KindOf(std::string_view typeName) noexcept {
  for (const TypeName& candidate : TypeNames()) {
    if (candidate.name.size() != typeName.size()) continue;
    if (candidate.name == typeName || Tessel::Text::EqualsIgnoreAsciiCase(typeName, candidate.name))
      return candidate.kind;
  }
  return FieldKind::Unknown;
}

// The record's numeric entry read as the member its type names. Callers fill
// the union through any member; copying the bytes reads it without relying on
// which member was written last.
template <typename T>
T NumberAs(const NUMERICDATA& number) noexcept {
  T value;
  std::memcpy(&value, &number, sizeof value);
  return value;
}

// The value of field `i` as text, for an error message.
std::string FieldValueText(const SqlRow& record, std::size_t i, FieldKind kind) {
  const NUMERICDATA& number = record.numericValues[i];
  switch (kind) {
    case FieldKind::Double:
    case FieldKind::Date:
      return Tessel::Data::ToString(ValueView{NumberAs<double>(number)});
    case FieldKind::LongInteger:
      return std::to_string(NumberAs<std::int32_t>(number));
    case FieldKind::ShortInteger:
      return std::to_string(NumberAs<std::int16_t>(number));
    case FieldKind::Text:
      return Tessel::Quoted(record.fieldValues[i].GetString());
    case FieldKind::Unknown:
      break;
  }
  return {};
}

// Whether two texts hold the same bytes. Inline, a word at a time: it runs
// twice per field, on names and type names of a dozen bytes, where a call
// to memcmp would cost more than the comparison.
bool SameBytes(const std::string& a, const std::string& b) noexcept {
  std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  for (; n >= 8; p += 8, q += 8, n -= 8) {
    std::uint64_t x, y;
    std::memcpy(&x, p, 8);
    std::memcpy(&y, q, 8);
    if (x != y) return false;
  }
  for (; n != 0; ++p, ++q, --n)
    if (*p != *q) return false;
  return true;
}

// What field i of the records resolved to last time: the type name and its
// kind, the field name and its column. The records of one queue nearly always
// repeat the same names in the same order, so a field whose texts are the
// very bytes seen at its index before skips the type match, the conversion
// of its name and the column lookup; anything else is worked out afresh.
class FieldMemo {
 public:
  FieldKind KindOf(const CStringA& typeName) {
    if (!hasKind_ || !SameBytes(typeName_, typeName.str())) {
      hasKind_ = false;
      // The name ends at its first NUL, as for every native text: a type name
      // taken from a fixed-width, NUL-padded buffer is still that type.
      kind_ = ::KindOf(std::string_view(typeName.GetString()));
      typeName_ = typeName.str();
      hasKind_ = true;
    }
    return kind_;
  }

  // Throws as a write by column name does when the table has no such column.
  std::size_t ColumnOf(const CStringA& fieldName, const Tessel::Data::DataTable& table,
                       Tessel::Data::detail::NativeCharset& charset, std::string& scratch) {
    if (!hasColumn_ || !SameBytes(fieldName_, fieldName.str())) {
      hasColumn_ = false;
      column_ =
          table.ColumnIndex(Tessel::Data::detail::NativeTextView(fieldName.GetString(), charset, scratch));
      fieldName_ = fieldName.str();
      hasColumn_ = true;
    }
    return column_;
  }

 private:
  std::string typeName_;
  FieldKind kind_ = FieldKind::Unknown;
  bool hasKind_ = false;
  std::string fieldName_;
  std::size_t column_ = 0;
  bool hasColumn_ = false;
};

// Stores field `i` of `record` into record `into` of the loader's table as
// its type name (`kind`) says; a field of an unknown type leaves its column
// at the default the record began with. The value is formed before the
// column is looked up, so a date that is no date is reported as such even
// when its column is unknown too.
void StoreField(Tessel::Data::detail::RecordLoader& loader, Tessel::Data::RecordId into,
                const Tessel::Data::DataTable& table, const SqlRow& record, std::size_t i, FieldKind kind,
                FieldMemo& memo, Tessel::Data::detail::NativeCharset& charset, std::string& nameScratch,
                std::string& textScratch) {
  const NUMERICDATA& number = record.numericValues[i];
  switch (kind) {
    case FieldKind::Double: {
      const double value = NumberAs<double>(number);
      loader.SetDouble(into, memo.ColumnOf(record.fieldNames[i], table, charset, nameScratch), value);
      return;
    }
    case FieldKind::LongInteger: {
      const auto value = NumberAs<std::int32_t>(number);
      loader.SetInt32(into, memo.ColumnOf(record.fieldNames[i], table, charset, nameScratch), value);
      return;
    }
    case FieldKind::ShortInteger: {
      // Widened with its sign: -1 stays -1, never 65535.
      const auto value = static_cast<std::int32_t>(NumberAs<std::int16_t>(number));
      loader.SetInt32(into, memo.ColumnOf(record.fieldNames[i], table, charset, nameScratch), value);
      return;
    }
    case FieldKind::Date: {
      // Unlike a staged date, 0 here is a real date (1899-12-30), never null.
      const Tessel::Data::DateTime value = Tessel::Data::DateTime::FromOADate(NumberAs<double>(number));
      loader.SetDateTime(into, memo.ColumnOf(record.fieldNames[i], table, charset, nameScratch), value);
      return;
    }
    case FieldKind::Text: {
      const std::string_view value =
          Tessel::Data::detail::NativeTextView(record.fieldValues[i].GetString(), charset, textScratch);
      loader.SetText(into, memo.ColumnOf(record.fieldNames[i], table, charset, nameScratch), value);
      return;
    }
    case FieldKind::Unknown:
      return;
  }
}

// A record whose lists are shorter than its count would be read out of
// bounds; it is refused whole instead, before any of its fields is read.
void CheckShape(const SqlRow* record, std::size_t position, const std::string& table) {
  if (record == nullptr) {
    throw Tessel::ArgumentNullError("BulkToTable into table " + Tessel::Quoted(table) + ": record " +
                                    std::to_string(position) + " of the queue is a null pointer");
  }
  if (record->fieldCount <= 0) return;
  const auto count = static_cast<std::size_t>(record->fieldCount);
  if (record->fieldNames.size() < count || record->fieldTypes.size() < count ||
      record->fieldValues.size() < count || record->numericValues.size() < count) {
    throw Tessel::ArgumentError(
        "BulkToTable into table " + Tessel::Quoted(table) + ": record " + std::to_string(position) +
        " claims " + std::to_string(count) + " fields but its lists hold fewer (names " +
        std::to_string(record->fieldNames.size()) + ", types " + std::to_string(record->fieldTypes.size()) +
        ", texts " + std::to_string(record->fieldValues.size()) + ", numbers " +
        std::to_string(record->numericValues.size()) + ")");
  }
}

// The queue's records in order, read in place. std::queue offers only its
// ends; its container is a protected member that a derived class may name.
const std::queue<SqlRow*>::container_type& RecordsOf(const std::queue<SqlRow*>& queue) {
  struct Access : std::queue<SqlRow*> {
    static const container_type& Of(const std::queue<SqlRow*>& q) { return q.*&Access::c; }
  };
  return Access::Of(queue);
}

// Asks for the memory of the records some way ahead of the one at hand.
// Records lie wherever the caller's allocator put them, a kilobyte or so each
// with their lists and texts, and a pass over a million of them (converting
// them, deleting them) would otherwise wait for memory several times per
// record. The record itself is asked for first; a few records later, when
// it has arrived, the lists it points to; later still, the texts those hold.
class RecordPrefetch {
 public:
  using Records = std::queue<SqlRow*>::container_type;
  explicit RecordPrefetch(const Records& records) noexcept
      : records_(records), record_(records.begin()), lists_(records.begin()), texts_(records.begin()) {
    for (std::size_t i = 0; i < kRecordsAhead; ++i) AdvanceRecord();
    for (std::size_t i = 0; i < kListsAhead; ++i) AdvanceLists();
    for (std::size_t i = 0; i < kTextsAhead; ++i) AdvanceTexts();
  }

  // Called once per record passed, before the record is used.
  void Next() noexcept {
    AdvanceRecord();
    AdvanceLists();
    AdvanceTexts();
  }

 private:
  static constexpr std::size_t kRecordsAhead = 12;
  static constexpr std::size_t kListsAhead = 6;
  static constexpr std::size_t kTextsAhead = 2;

  static void Lines(const void* at, std::size_t bytes) noexcept {
    const auto* p = static_cast<const char*>(at);
    for (std::size_t offset = 0; offset < bytes; offset += 64) __builtin_prefetch(p + offset);
  }
  void AdvanceRecord() noexcept {
    if (record_ == records_.end()) return;
    if (const SqlRow* r = *record_) Lines(r, sizeof(SqlRow));
    ++record_;
  }
  void AdvanceLists() noexcept {
    if (lists_ == records_.end()) return;
    if (const SqlRow* r = *lists_) {
      Lines(r->fieldNames.data(), r->fieldNames.size() * sizeof(CStringA));
      Lines(r->fieldTypes.data(), r->fieldTypes.size() * sizeof(CStringA));
      Lines(r->fieldValues.data(), r->fieldValues.size() * sizeof(CStringA));
      Lines(r->numericValues.data(), r->numericValues.size() * sizeof(NUMERICDATA));
    }
    ++lists_;
  }
  void AdvanceTexts() noexcept {
    if (texts_ == records_.end()) return;
    if (const SqlRow* r = *texts_)
      for (const CStringA& text : r->fieldValues) __builtin_prefetch(text.GetString());
    ++texts_;
  }

  const Records& records_;
  Records::const_iterator record_, lists_, texts_;
};

// Records whose rows the table refused (a key repeated inside the queue, a
// missing required value): counted, and the first few named with their
// reasons. Any refusal means nothing of the queue is written.
struct Refusals {
  static constexpr std::size_t kNamed = 3;
  std::size_t count = 0;
  std::vector<std::string> first;  // "record 4: <reason>", at most kNamed
};

// Turns the queue's records, in order, into rows of the table. Throws, naming
// the record, the column and the value, for a record that cannot be
// converted; counts the rows the table refuses.
class Conversion {
 public:
  using Records = std::queue<SqlRow*>::container_type;

  Conversion(Tessel::Data::DataTable& table, const std::string& tableName, const Records& records,
             Tessel::Data::detail::NativeCharset charset)
      : table_(table), tableName_(tableName), records_(records), charset_(charset), loader_(table) {
    loader_.Reserve(records.size());
  }

  // With a feed, the rows are published as they are made, a few hundred at
  // a time, and the first row as soon as it exists. The first refusal ends
  // the feed as failed, so that the writer rolls back what it wrote; the
  // records after it are still converted, to count the refusals and to find
  // a record that cannot be converted at all.
  void Run(Tessel::Data::detail::TableFeed* feed) {
    constexpr std::size_t kPublishEvery = 256;
    const bool tracing = Tessel::Trace::Enabled();
    const Tessel::Data::DataRowCollection& rows = table_.Rows();
    std::size_t published = 0;
    RecordPrefetch ahead(records_);
    std::size_t position = 0;
    for (auto next = records_.begin(); next != records_.end(); ++next, ++position) {
      ahead.Next();
      const SqlRow* record = *next;
      CheckShape(record, position, tableName_);
      if (record->fieldCount <= 0) continue;  // no fields: no row

      const Tessel::Data::RecordId into = loader_.NewRecord();
      const auto count = static_cast<std::size_t>(record->fieldCount);
      if (memos_.size() < count) memos_.resize(count);
      for (std::size_t i = 0; i < count; ++i) {
        const FieldKind kind = memos_[i].KindOf(record->fieldTypes[i]);
        try {
          StoreField(loader_, into, table_, *record, i, kind, memos_[i], charset_, nameScratch_,
                     textScratch_);
        } catch (...) {
          NoteMissingColumn(record->fieldNames[i]);
          Tessel::RethrowWithContext("BulkToTable into table " + Tessel::Quoted(tableName_) + ": record " +
                                     std::to_string(position) + " of the queue, column " +
                                     Tessel::Quoted(record->fieldNames[i].GetString()) + ", value " +
                                     FieldValueText(*record, i, kind) +
                                     "; nothing was written and the queue is as it was");
        }
      }

      try {
        loader_.Add(into);
      } catch (const std::exception& e) {
        // A row the table refuses (a duplicate key, a missing value): the
        // queue cannot be written as it is.
        if (refusals_.first.size() < Refusals::kNamed)
          refusals_.first.push_back("record " + std::to_string(position) + ": " + e.what());
        if (refusals_.count++ == 0 && feed != nullptr) {
          feed->Finish(true);
          feed = nullptr;
        }
        if (tracing) {
          Tessel::Trace::Line("TABLE: " + tableName_ + ", Row: " + std::to_string(position) +
                              ", Col: " + std::to_string(record->fieldCount) + "; " +
                              record->fieldNames[count - 1].str() + " " + e.what());
        }
      }
      if (feed != nullptr && rows.Count() != published &&
          (published == 0 || rows.Count() - published >= kPublishEvery)) {
        published = rows.Count();
        feed->Publish(published);
      }
    }
    if (feed != nullptr && rows.Count() != published) feed->Publish(rows.Count());
  }

  const Refusals& Refused() const noexcept { return refusals_; }
  // The field name that stopped the conversion for want of a column of
  // that name; nullopt when none did.
  const std::optional<std::string>& MissingColumn() const noexcept { return missingColumn_; }

 private:
  void NoteMissingColumn(const CStringA& fieldName) {
    std::string scratch;
    const std::string_view name =
        Tessel::Data::detail::NativeTextView(fieldName.GetString(), charset_, scratch);
    try {
      if (!name.empty() && !table_.FindColumn(name)) missingColumn_ = std::string(name);
    } catch (...) {
      // An ambiguous name: the column is there, twice.
    }
  }

  Tessel::Data::DataTable& table_;
  const std::string& tableName_;
  const Records& records_;
  Tessel::Data::detail::NativeCharset charset_;
  Tessel::Data::detail::RecordLoader loader_;
  std::vector<FieldMemo> memos_;
  std::string nameScratch_;
  std::string textScratch_;
  Refusals refusals_;
  std::optional<std::string> missingColumn_;
};

void TraceCount(const Tessel::Data::DataTable& table, std::size_t records) {
  if (Tessel::Trace::Enabled())
    Tessel::Trace::Line(std::to_string(table.Rows().Count()) + " =? " + std::to_string(records));
}

// Below this many records the rows are made first and written afterwards;
// from it on, while the write runs, when the component's writer takes tables
// still being filled. Both backends' do: PostgreSQL's sends one chunk of rows
// while the next is made, SQLite's inserts it. (Overlapped, a million rows
// of eight columns take SQLite about 0.45 s where making them first and then
// writing them took 0.65 s, as long as the writer reads the cells through
// views of the columns, ColumnStore::View.)
constexpr std::size_t kOverlapFrom = 32 * 1024;

// Makes the rows on a thread of its own while the component writes the rows
// already made. The thread runs under the caller's locale, which decides how
// native text converts. Whatever happens to the write, the thread gets to the
// end of the queue before the call returns, so that a record that cannot be
// converted is reported as it would be had every row been made first.
class OverlappedConversion {
 public:
  OverlappedConversion(Conversion& conversion, Tessel::Data::DataTable& table) : feed_(table) {
    thread_ = std::thread([this, &conversion] {
      locale_.Adopt();
      try {
        conversion.Run(&feed_);
        // After a refusal the feed has ended already, as failed.
        if (conversion.Refused().count == 0) feed_.Finish(false);
      } catch (...) {
        failure_ = std::current_exception();
        feed_.Finish(true);
      }
    });
  }
  ~OverlappedConversion() { Join(); }
  OverlappedConversion(const OverlappedConversion&) = delete;
  OverlappedConversion& operator=(const OverlappedConversion&) = delete;

  // Until the table holds a row or the queue is done; false when a record
  // could not be converted (Join says which).
  bool FirstRow() { return !feed_.WaitForFirstRow(); }
  // Waits for the end of the queue; rethrows what stopped the conversion.
  void Join() {
    if (thread_.joinable()) {
      feed_.Claim();
      thread_.join();
    }
  }
  std::exception_ptr Failure() const noexcept { return failure_; }

 private:
  Tessel::Data::detail::TableFeed feed_;
  Tessel::Data::detail::CallerLocale locale_;
  std::exception_ptr failure_;
  std::thread thread_;
};

// Converts the queue's records into `target` and has the component write
// them; false when the write failed or a record was refused. Throws what
// stops the conversion (with the component's message as it was) or the
// write.
bool ConvertAndWrite(Tessel::DbConnect& component, Tessel::Data::DataTable& target, Conversion& conversion,
                     std::size_t records, std::int64_t& workingTime) {
  bool written = false;
  if (records >= kOverlapFrom && Tessel::Data::detail::AcceptsTableFeeds(typeid(component))) {
    // The component's writer takes the rows as they are made. A record that
    // cannot be converted ends the call as it does otherwise: with its
    // exception, nothing written, the queue and the component's message as
    // they were.
    const Tessel::ManagedText message = component.Message();
    OverlappedConversion overlapped(conversion, target);
    if (overlapped.FirstRow()) {
      try {
        written = component.BulkToTable(target, workingTime);
      } catch (...) {
        overlapped.Join();
        if (overlapped.Failure()) {
          component.SetMessage(message);
          std::rethrow_exception(overlapped.Failure());
        }
        throw;
      }
    }
    overlapped.Join();
    if (overlapped.Failure()) {
      component.SetMessage(message);
      std::rethrow_exception(overlapped.Failure());
    }
    TraceCount(target, records);
  } else {
    conversion.Run(nullptr);
    TraceCount(target, records);
    if (conversion.Refused().count == 0) written = component.BulkToTable(target, workingTime);
  }
  return written;
}

}  // namespace

bool ConnectWrapper::BulkToTable(std::string table, std::queue<SqlRow*>* m_sqlRowQueue, long* executionTime) {
  Tessel::DbConnect& component = Component();
  if (m_sqlRowQueue == nullptr) {
    throw Tessel::ArgumentNullError("BulkToTable: argument 'm_sqlRowQueue' must point to a queue");
  }
  if (executionTime == nullptr) {
    throw Tessel::ArgumentNullError("BulkToTable: argument 'executionTime' must point to a valid integer");
  }
  std::int64_t workingTime = Tessel::WidenLong32(*executionTime);
  const std::string tableName = Tessel::Text::NativeToManaged(table);

  std::shared_ptr<Tessel::Data::DataTable> target = component.GetTable(tableName);
  if (!target) {
    // Nothing could be written, so nothing is taken from the caller.
    throw Tessel::ArgumentError("BulkToTable: the database has no table " + Tessel::Quoted(tableName) +
                                "; the " + std::to_string(m_sqlRowQueue->size()) +
                                " queued records were left in the queue");
  }

  const std::queue<SqlRow*>::container_type& records = RecordsOf(*m_sqlRowQueue);
  std::optional<Conversion> conversion;
  bool written = false;
  for (bool shapeReadAgain = false;; shapeReadAgain = true) {
    // The caller cannot change its locale while this call runs, so the
    // character set is read once at most rather than once per field.
    conversion.emplace(*target, tableName, records, Tessel::Data::detail::NativeCharset());
    try {
      written = ConvertAndWrite(component, *target, *conversion, records.size(), workingTime);
      break;
    } catch (...) {
      // A field whose column the shape lacks: the column may have been added
      // since the shape was read, so it is read again, once, and the whole
      // queue converted anew (nothing was written).
      const std::optional<std::string>& missing = conversion->MissingColumn();
      if (shapeReadAgain || !missing) throw;
      std::shared_ptr<Tessel::Data::DataTable> fresh;
      const std::exception_ptr stopped = std::current_exception();
      try {
        fresh = Tessel::Rows::ReadShapeAgain(component, tableName);
      } catch (...) {
        std::rethrow_exception(stopped);  // the caller hears of the record, as before
      }
      if (!fresh || !fresh->FindColumn(*missing)) throw;
      conversion.reset();
      target = std::move(fresh);
    }
  }
  *executionTime = Tessel::NarrowToLong32(workingTime);
  const Refusals& refusals = conversion->Refused();
  if (refusals.count != 0) {
    // Writing the rest would drop records behind a success; the caller mends
    // or takes out the records named and calls again.
    written = false;
    std::string message = "BulkToTable into table " + Tessel::Quoted(tableName) + ": " +
                          std::to_string(refusals.count) + " of " + std::to_string(records.size()) +
                          (records.size() == 1 ? " record was" : " records were") +
                          " refused by the table, so nothing was written and the queue is as it was (";
    for (std::size_t i = 0; i < refusals.first.size(); ++i)
      message += (i == 0 ? "" : "; ") + Tessel::DefuseRetryTexts(refusals.first[i]);
    if (refusals.count > refusals.first.size()) message += "; ...";
    component.SetMessage(message + ")");
    component.SetFailureCategory(Tessel::ErrorCategory::Refused);
  }
  // The table goes before the records: freed while the allocator still has
  // few small free blocks, its large blocks cost no sweep over the records'.
  target.reset();
  if (!written) return false;
  // Every row is in the database: now, and only now, the records go.
  RecordPrefetch going(records);
  while (!m_sqlRowQueue->empty()) {
    going.Next();
    delete m_sqlRowQueue->front();
    m_sqlRowQueue->pop();
  }
  return true;
}
