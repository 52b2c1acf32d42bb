#include "data/TableLoad.h"

#include <algorithm>
#include <bit>
#include <typeindex>
#include <vector>

#include "TesselWrapper/Errors.h"
#include "TesselWrapper/data/Text.h"
#include "data/TableImpl.h"
#include "data/Utf8.h"

namespace Tessel::Data::detail {

std::string_view NativeTextView(const char* native, NativeCharset& charset, std::string& scratch) {
  if (native == nullptr) return {};
  const std::string_view text(native);
  if (IsPortableText(text)) return text;
  if (charset.IsUtf8() && Text::detail::ValidUtf8Length(text) == text.size()) return text;
  return Text::NativeToManagedView(native, scratch);
}

void SetField(DataRow& row, const char* nativeName, NativeCharset& charset, const ValueView& value) {
  if (!row.TablePtr()) [[unlikely]]
    throw ArgumentNullError("the row belongs to no table");
  DataTable& table = row.Table();
  TableAccess::Impl& t = TableAccess::Of(table);
  std::size_t column;
  if (nativeName == nullptr || !t.names.FindNextNative(nativeName, charset, column)) {
    std::string scratch;
    column = t.Resolve(NativeTextView(nativeName, charset, scratch), table);
  }
  const RecordId record = row.Record();
  t.CheckRecord(record, table);
  if (!t.WriteExact(record, column, value)) t.Write(record, column, value, table);
}

namespace {

// The store of a value of the column's own kind into a detached record,
// which needs neither conversion nor rules; nullptr when the general write
// must decide.
ColumnStore* DirectStore(TableAccess::Impl& t, const DataTable& table, RecordId record, std::size_t column,
                         DataType a, DataType b) {
  t.CheckColumnIndex(column, table);
  t.CheckRecord(record, table);
  ColumnStore& store = t.stores[column];
  if ((store.Type() != a && store.Type() != b) || t.added.Test(record)) return nullptr;
  return &store;
}

Cell WordCell(std::uint64_t word) noexcept {
  Cell cell;
  cell.null = false;
  cell.word = word;
  return cell;
}

}  // namespace

void RecordLoader::Reserve(std::size_t count) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  t.ReserveRecords(t.records + count);
  std::vector<RecordId>& rows = TableAccess::Rows(table_);
  rows.reserve(rows.size() + count);
}

RecordId RecordLoader::NewRecord() { return TableAccess::Of(table_).NewRecord(table_); }

void RecordLoader::SetInt32(RecordId record, std::size_t column, std::int32_t value) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  if (ColumnStore* store = DirectStore(t, table_, record, column, DataType::Int32, DataType::Int64)) {
    store->Store(record, WordCell(static_cast<std::uint64_t>(std::int64_t{value})), false);
    return;
  }
  t.Write(record, column, ValueView{value}, table_);
}

void RecordLoader::SetDouble(RecordId record, std::size_t column, double value) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  if (ColumnStore* store = DirectStore(t, table_, record, column, DataType::Double, DataType::Double)) {
    store->Store(record, WordCell(std::bit_cast<std::uint64_t>(value)), false);
    return;
  }
  t.Write(record, column, ValueView{value}, table_);
}

void RecordLoader::SetDateTime(RecordId record, std::size_t column, DateTime value) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  if (ColumnStore* store = DirectStore(t, table_, record, column, DataType::DateTime, DataType::DateTime)) {
    store->Store(record, WordCell(static_cast<std::uint64_t>(value.Ticks())), false);
    return;
  }
  t.Write(record, column, ValueView{value}, table_);
}

void RecordLoader::SetText(RecordId record, std::size_t column, std::string_view value) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  if (ColumnStore* store = DirectStore(t, table_, record, column, DataType::String, DataType::String)) {
    store->StoreText(record, value);
    return;
  }
  t.Write(record, column, ValueView{value}, table_);
}

void RecordLoader::Set(RecordId record, std::size_t column, const ValueView& value) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  t.CheckColumnIndex(column, table_);
  t.CheckRecord(record, table_);
  if (!t.WriteExact(record, column, value)) t.Write(record, column, value, table_);
}

void RecordLoader::Add(RecordId record) {
  TableAccess::Impl& t = TableAccess::Of(table_);
  t.CheckRecord(record, table_);
  if (t.added.Test(record))
    throw ArgumentError("the row already belongs to this table ('" + table_.TableName() + "')");
  t.AddRecord(record, TableAccess::Rows(table_), table_);
}

// --- TableFeed ----------------------------------------------------------------

TableFeed::TableFeed(DataTable& table) : table_(table) {
  TableAccess::Impl& t = TableAccess::Of(table);
  t.feed = this;
  for (ColumnStore& store : t.stores) store.GuardMoves(this);
}

TableFeed::~TableFeed() {
  TableAccess::Impl& t = TableAccess::Of(table_);
  for (ColumnStore& store : t.stores) store.GuardMoves(nullptr);
  t.feed = nullptr;
}

void TableFeed::Publish(std::size_t rows) {
  std::unique_lock<std::mutex> lock(mutex_);
  published_ = rows;
  changed_.notify_all();
  changed_.wait(lock, [this] { return claimed_; });
}

void TableFeed::Finish(bool failed) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  failed_ = failed;
  changed_.notify_all();
}

bool TableFeed::WaitForFirstRow() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return published_ != 0 || finished_; });
  return finished_ && failed_;
}

void TableFeed::Claim() {
  const std::lock_guard<std::mutex> lock(mutex_);
  claimed_ = true;
  changed_.notify_all();
}

std::span<const RecordId> TableFeed::Rows(std::size_t count, bool& failed) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!claimed_) {
    claimed_ = true;
    changed_.notify_all();
  }
  changed_.wait(lock, [&] { return published_ >= count || finished_; });
  failed = finished_ && failed_;
  // The list never moves: room for every row was made before the producer
  // began, and only its end, never its start, changes.
  return {TableAccess::Rows(table_).data(), published_};
}

std::shared_lock<std::shared_mutex> TableFeed::Lease() {
  {
    // Readers step aside for a move that is waiting: otherwise a writer that
    // takes the lease again as soon as it let it go could hold off the move,
    // and with it the making of rows, until it ran out of rows to write.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !moving_; });
  }
  return std::shared_lock<std::shared_mutex>(moves_);
}

void TableFeed::BeginMove() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    moving_ = true;
  }
  moves_.lock();
}

void TableFeed::EndMove() noexcept {
  moves_.unlock();
  const std::lock_guard<std::mutex> lock(mutex_);
  moving_ = false;
  changed_.notify_all();
}

TableFeed* FeedOf(const DataTable& table) noexcept { return TableAccess::Of(table).feed; }

// --- TableHandOff -------------------------------------------------------------

void CallerLocale::Adopt() const noexcept {
#if !defined(_WIN32)
  uselocale(locale_);
#endif
}

TableHandOff::TableHandOff(Taker take) : take_(std::move(take)) {
  thread_ = std::thread([this, locale = CallerLocale()] {
    locale.Adopt();
    Run();
  });
}

TableHandOff::~TableHandOff() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

void TableHandOff::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return next_ || closed_; });
    if (!next_) return;  // closed, and nothing left to take
    const std::shared_ptr<DataTable> table = std::move(next_);
    busy_ = true;
    lock.unlock();
    bool taken = false;
    std::exception_ptr failure;
    try {
      taken = take_(*table);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    if (!taken) {
      stopped_ = true;
      failure_ = failure;
    }
    changed_.notify_all();
    if (stopped_) return;
  }
}

bool TableHandOff::Put(std::shared_ptr<DataTable> table) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return stopped_ || (!busy_ && !next_); });
  if (stopped_) return false;
  next_ = std::move(table);
  changed_.notify_all();
  return true;
}

bool TableHandOff::Finish() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  if (failure_) std::rethrow_exception(failure_);
  return !stopped_;
}

namespace {

struct FeedReaders {
  std::mutex mutex;
  std::vector<std::type_index> types;
};

FeedReaders& Readers() {
  static FeedReaders readers;
  return readers;
}

}  // namespace

bool SameKey(const DataTable& table, std::span<const std::size_t> columns, RecordId a, RecordId b) {
  const std::vector<ColumnStore>& stores = TableAccess::Stores(table);
  for (const std::size_t c : columns) {
    const ColumnStore& store = stores[c];
    if (store.IsNull(a) || store.IsNull(b) || !KeyCellsEqual(store, a, b, table.Column(c).IgnoreCase))
      return false;
  }
  return true;
}

void AcceptTableFeeds(const std::type_info& component) {
  FeedReaders& readers = Readers();
  const std::lock_guard<std::mutex> lock(readers.mutex);
  readers.types.emplace_back(component);
}

bool AcceptsTableFeeds(const std::type_info& component) noexcept {
  FeedReaders& readers = Readers();
  const std::lock_guard<std::mutex> lock(readers.mutex);
  return std::find(readers.types.begin(), readers.types.end(), std::type_index(component)) !=
         readers.types.end();
}

}  // namespace Tessel::Data::detail
