// The load streams: the file is read and converted a batch of rows at a time
// on the calling thread while a thread of its own writes the batch before
// into the table through the component's BulkStream, all in one transaction.
// At most two batches exist at a time (TableHandOff), so the memory the load
// takes does not grow with the file.
//
// A key repeated in the file: the batches carry no unique rules, so the
// verdict is the database's unique constraint, within the one transaction,
// exactly as the table compares keys (its collation, its types). Keeping
// every key seen in memory would make the load's memory grow with the file
// again, and comparing only within a batch would miss a key repeated far
// apart. Once the database refuses a row, the load reads the file again, on
// that failure path only: to find the line of the refused row (the writers
// name it by its position among the rows written), then the earlier line
// that holds the same key, compared as the table compares keys. With none,
// the key was already in the table and the database's own text is reported,
// naming the line. Standard input is kept in a temporary file as it is read,
// so that it can be read again. A foreign key, which PostgreSQL checks at
// the end of the COPY without naming a row, is found by its key the same
// way.
#include "TesselWrapper/jobs/CsvLoad.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "TesselWrapper/component/DbConnect.h"
#include "TesselWrapper/component/DbConnectFactory.h"
#include "TesselWrapper/data/Text.h"
#include "data/Quoted.h"
#include "data/TableLoad.h"
#include "jobs/CsvReader.h"
#include "jobs/CsvRowBuilder.h"

namespace Tessel::Jobs {
namespace {

using Clock = std::chrono::steady_clock;

// Rows per batch: enough that a batch's fixed costs (a table, a hand-off, a
// statement or chunk of the write) vanish among its rows, few enough that two
// batches of wide rows stay a few megabytes.
constexpr std::size_t kBatchRows = 16 * 1024;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string DescribeLoadError(std::uint64_t line, const std::string& column, const std::string& value,
                              const std::string& reason) {
  std::string text =
      line == 0 ? std::string("in the column names given for the file") : "line " + std::to_string(line);
  if (!column.empty()) text += ", column " + Quoted(column);
  if (!value.empty()) text += ", value " + QuotedExcerpt(value);
  return text + ": " + reason;
}

// The character set to decode the file from, by the names CsvLoadOptions
// documents.
std::string CharsetOf(const std::string& encoding) {
  std::string folded;
  for (char c : encoding)
    if (c != '-' && c != '_') folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (folded == "latin1" || folded == "l1" || folded == "iso88591") return "ISO-8859-1";
  if (folded == "utf8") return "UTF-8";
  if (folded == "locale") return Text::NativeIsUtf8() ? std::string("UTF-8") : Text::NativeCharsetName();
  return encoding;
}

std::shared_ptr<const Data::DataTable> ReadShape(DbConnect& component, const std::string& table,
                                                 const std::string& tableSet) {
  std::shared_ptr<Data::DataTable> shape = component.GetTable(table);
  if (!shape) {
    if (!component.Test())
      throw DatabaseError("cannot reach the database: " + Text::ManagedToNative(component.Message()));
    throw ArgumentError("table " + Quoted(table) + " does not exist" +
                        (tableSet.empty() ? std::string() : " in table set " + Quoted(tableSet)));
  }
  return shape;
}

// Thrown through the reader when the write has stopped: nothing more is read.
struct WriteStopped {};

// Receives the parsed records: the first is the header (unless the names are
// given), which makes the builder; every later one goes to Row.
class RowSink : public CsvRecordSink {
 public:
  RowSink(std::shared_ptr<const Data::DataTable> shape, const std::vector<std::string>& columns)
      : shape_(std::move(shape)) {
    if (columns.empty()) return;
    std::vector<CsvField> names;
    for (const std::string& name : columns) names.push_back({name, true});
    builder_.emplace(shape_, names, 0);
  }

  void OnRecord(std::uint64_t line, std::span<const CsvField> fields) final {
    if (!builder_) {
      builder_.emplace(shape_, fields, line);
      return;
    }
    Row(*builder_, line, fields);
  }

  std::string FieldLabel(std::size_t index) const override {
    return builder_ ? builder_->FieldLabel(index) : CsvRecordSink::FieldLabel(index);
  }

  bool HasBuilder() const noexcept { return builder_.has_value(); }

 protected:
  virtual void Row(CsvRowBuilder& builder, std::uint64_t line, std::span<const CsvField> fields) = 0;

 private:
  std::shared_ptr<const Data::DataTable> shape_;
  std::optional<CsvRowBuilder> builder_;
};

// Every data record becomes a row of the batch being filled, and a full
// batch goes to `deliver`.
class BatchingSink final : public RowSink {
 public:
  using Deliver = std::function<void(std::shared_ptr<Data::DataTable>)>;

  BatchingSink(std::shared_ptr<const Data::DataTable> shape, const std::vector<std::string>& columns,
               Deliver deliver)
      : RowSink(std::move(shape), columns), deliver_(std::move(deliver)) {}

  std::uint64_t Records() const noexcept { return records_; }
  // The rows read since the last full batch (null when none).
  std::shared_ptr<Data::DataTable> TakeBatch() { return std::move(batch_); }

 private:
  void Row(CsvRowBuilder& builder, std::uint64_t line, std::span<const CsvField> fields) override {
    if (!batch_) {
      batch_ = builder.NewBatch();
      Data::detail::RecordLoader(*batch_).Reserve(kBatchRows);
    }
    builder.AddRow(*batch_, line, fields);
    ++records_;
    if (batch_->Rows().Count() == kBatchRows) deliver_(std::move(batch_));
  }

  Deliver deliver_;
  std::shared_ptr<Data::DataTable> batch_;
  std::uint64_t records_ = 0;
};

// The file read again, from the start, on the failure path: `visit` sees the
// header's builder and every data record with its 0-based position, and
// returns false to stop.
class Rereading final : public RowSink {
 public:
  using Visit = std::function<bool(CsvRowBuilder& builder, std::uint64_t position, std::uint64_t line,
                                   std::span<const CsvField> fields)>;
  struct Done {};

  Rereading(std::shared_ptr<const Data::DataTable> shape, const std::vector<std::string>& columns,
            Visit visit)
      : RowSink(std::move(shape), columns), visit_(std::move(visit)) {}

 private:
  void Row(CsvRowBuilder& builder, std::uint64_t line, std::span<const CsvField> fields) override {
    if (!visit_(builder, position_++, line, fields)) throw Done{};
  }

  Visit visit_;
  std::uint64_t position_ = 0;
};

// A record kept to be compared with others: its fields' texts.
struct KeptRecord {
  std::uint64_t line = 0;
  std::vector<std::string> texts;
  std::vector<bool> present;

  void Keep(std::uint64_t at, std::span<const CsvField> fields) {
    line = at;
    texts.clear();
    present.clear();
    for (const CsvField& field : fields) {
      texts.emplace_back(field.text);
      present.push_back(field.present);
    }
  }
  std::vector<CsvField> Fields() const {
    std::vector<CsvField> fields;
    for (std::size_t i = 0; i < texts.size(); ++i) fields.push_back({texts[i], present[i]});
    return fields;
  }
};

// Rows compared with one kept row, in a scratch table renewed now and then
// so that it never grows with the file.
class KeyProbe {
 public:
  explicit KeyProbe(CsvRowBuilder& builder) : builder_(builder) {}

  // The kept row: from a record, or column by column from texts. False
  // when its values cannot be stored.
  bool SetTarget(std::span<const CsvField> fields) {
    fields_.assign(fields.begin(), fields.end());
    return Renew();
  }
  bool SetTargetColumns(const std::vector<std::size_t>& columns, const std::vector<std::string>& texts) {
    columns_ = columns;
    texts_ = texts;
    return Renew();
  }

  // Whether the record's key of `rule` equals the kept row's.
  bool Same(std::span<const CsvField> fields, const CsvRowBuilder::KeyRule& rule) {
    if (++candidates_ % 4096 == 0) Renew();
    Data::DataRow candidate = table_->NewRow();
    return builder_.Fill(candidate, fields) &&
           Data::detail::SameKey(*table_, rule.columns, target_->Record(), candidate.Record());
  }

 private:
  bool Renew() {
    table_ = builder_.NewBatch();
    target_.emplace(table_->NewRow());
    if (!fields_.empty()) return builder_.Fill(*target_, fields_);
    for (std::size_t k = 0; k < columns_.size(); ++k)
      if (!builder_.FillColumn(*target_, columns_[k], texts_[k])) return false;
    return true;
  }

  CsvRowBuilder& builder_;
  std::vector<CsvField> fields_;  // views into the caller's KeptRecord
  std::vector<std::size_t> columns_;
  std::vector<std::string> texts_;
  std::shared_ptr<Data::DataTable> table_;
  std::optional<Data::DataRow> target_;
  std::uint64_t candidates_ = 0;
};

// "Key (a, b)=(1, x)" in a database's text (PostgreSQL names a refused row
// so): the columns, the values and where the clause ends.
struct KeyClause {
  std::vector<std::string> columns;
  std::vector<std::string> values;
  std::size_t end = 0;  // just after the closing parenthesis of the values
  bool exists = false;  // "... already exists" (not "is not present")
};

// "a", "b c" from `"a", "b c"`: a list as PostgreSQL prints identifiers.
std::vector<std::string> SplitNames(std::string_view list) {
  std::vector<std::string> names;
  for (;;) {
    const std::size_t comma = list.find(", ");
    std::string name(list.substr(0, comma));
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
      std::string unquoted;
      for (std::size_t i = 1; i + 1 < name.size(); ++i) {
        unquoted += name[i];
        if (name[i] == '"' && name[i + 1] == '"') ++i;
      }
      name = unquoted;
    }
    names.push_back(std::move(name));
    if (comma == std::string_view::npos) return names;
    list.remove_prefix(comma + 2);
  }
}

std::optional<KeyClause> FindKeyClause(const std::string& text) {
  const std::size_t key = text.find("Key (");
  const std::size_t equals = key == std::string::npos ? key : text.find(")=(", key);
  if (equals == std::string::npos) return std::nullopt;
  KeyClause clause;
  std::size_t close = text.find(") already exists", equals);
  clause.exists = close != std::string::npos;
  if (close == std::string::npos) close = text.find(") is not present in table", equals);
  if (close == std::string::npos) return std::nullopt;
  clause.columns = SplitNames(std::string_view(text).substr(key + 5, equals - key - 5));
  const std::string_view valueList = std::string_view(text).substr(equals + 3, close - equals - 3);
  if (clause.columns.size() == 1) {
    clause.values.emplace_back(valueList);
  } else {
    for (std::string_view rest = valueList;;) {
      const std::size_t comma = rest.find(", ");
      clause.values.emplace_back(rest.substr(0, comma));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 2);
    }
  }
  if (clause.values.size() != clause.columns.size()) return std::nullopt;
  clause.end = close + 1;
  return clause;
}

// Replaces `what` in `text` by `with`, when it is there.
void ReplaceOnce(std::string& text, const std::string& what, const std::string& with) {
  if (const std::size_t at = text.find(what); at != std::string::npos) text.replace(at, what.size(), with);
}

// The failure path of a write: the refused row's line found by reading the
// file again, and the message made from it.
class FailedWrite {
 public:
  FailedWrite(std::shared_ptr<const Data::DataTable> shape, const CsvLoadOptions& options,
              const CsvReadOptions& readOptions, const std::string& path, std::FILE* copy)
      : shape_(std::move(shape)), options_(options), readOptions_(readOptions), path_(path), copy_(copy) {}

  // Throws the load's error for a write that failed with `message`.
  [[noreturn]] void Throw(const std::string& table, const std::string& message, ErrorCategory category,
                          std::optional<std::uint64_t> row) {
    std::string text = message;
    // Only the rows' own fault names lines of the file: a refusal
    // (BlamesTheRows), or a value the writer found the table cannot take
    // (Other). A lost connection, a busy database or a lack of memory came
    // while some row was written, not because of it.
    const bool rowsAtFault = BlamesTheRows(category) || category == ErrorCategory::Other;
    const std::optional<KeyClause> key = FindKeyClause(text);
    if (!rowsAtFault) {
      // The message stands as the database gave it.
    } else if (row) {
      KeptRecord refused;
      Reread(
          [&](CsvRowBuilder&, std::uint64_t position, std::uint64_t line, std::span<const CsvField> fields) {
            if (position != *row) return true;
            refused.Keep(line, fields);
            return false;
          });
      if (refused.line != 0) {
        RefuseRepeatedKey(refused, *row);
        const std::string position = "the row at position " + std::to_string(*row) + " (0-based)";
        if (key) {
          // The key names the row: the line goes there.
          text.insert(key->end, " of line " + std::to_string(refused.line) + " of the file");
          ReplaceOnce(text, position + ": ", "");
        } else {
          ReplaceOnce(text, position, "the row of line " + std::to_string(refused.line) + " of the file");
        }
      }
    } else if (key) {
      NameKeyLines(*key, text);
    } else {
      NameLineRange(text);
    }
    throw DatabaseError("table " + Quoted(table) + " was not written: " + text, category);
  }

 private:
  void Reread(const Rereading::Visit& visit) {
    Rereading sink(shape_, options_.columns, visit);
    CsvReadOptions readOptions = readOptions_;
    readOptions.onBlock = nullptr;
    readOptions.copyTo = nullptr;
    try {
      if (copy_ != nullptr) {
        std::rewind(copy_);
        ReadCsv(copy_, path_, sink, readOptions);
      } else {
        ReadCsv(path_, sink, readOptions);
      }
    } catch (const Rereading::Done&) {
    }
  }

  // The refused row repeats the key of an earlier line: stops the load
  // naming both lines. Returns when no earlier line holds its key.
  void RefuseRepeatedKey(const KeptRecord& refused, std::uint64_t row) {
    const std::vector<CsvField> refusedFields = refused.Fields();
    std::uint64_t earlier = 0;
    CsvRowBuilder::KeyRule repeated;  // a copy: the builder goes with the reading
    std::optional<KeyProbe> probe;
    Reread([&](CsvRowBuilder& builder, std::uint64_t position, std::uint64_t line,
               std::span<const CsvField> fields) {
      if (position >= row || builder.KeyRules().empty()) return false;
      if (!probe) {
        probe.emplace(builder);
        if (!probe->SetTarget(refusedFields)) return false;
      }
      for (const CsvRowBuilder::KeyRule& rule : builder.KeyRules()) {
        if (probe->Same(fields, rule)) {
          earlier = line;
          repeated = rule;
          return false;
        }
      }
      return true;
    });
    if (earlier == 0) return;
    std::string shown;
    for (std::size_t k = 0; k < repeated.columns.size(); ++k) {
      const std::size_t field = repeated.fields[k];
      std::string value = field == SIZE_MAX ? std::string() : refused.texts[field];
      if (value.empty()) value = shape_->Column(repeated.columns[k]).DefaultValue.ToString();
      shown += (shown.empty() ? "" : ", ") + value;
    }
    throw CsvLoadError(refused.line, repeated.description, shown,
                       "repeats the key of line " + std::to_string(earlier) +
                           " as the table compares keys; the table keeps its key unique");
  }

  // A row named by its key only: the first line holding it; for a key that
  // already exists, a second line holding it is the repetition.
  void NameKeyLines(const KeyClause& key, std::string& text) {
    std::uint64_t first = 0, second = 0;
    KeptRecord secondRecord;
    std::optional<KeyProbe> probe;
    CsvRowBuilder::KeyRule rule;
    Reread([&](CsvRowBuilder& builder, std::uint64_t, std::uint64_t line, std::span<const CsvField> fields) {
      if (!probe) {
        for (const std::string& name : key.columns) {
          const std::optional<std::size_t> column = builder.ColumnNamed(name);
          if (!column) return false;
          rule.columns.push_back(*column);
          rule.fields.push_back(builder.FieldOf(*column));
        }
        probe.emplace(builder);
        if (!probe->SetTargetColumns(rule.columns, key.values)) return false;
      }
      if (!probe->Same(fields, rule)) return true;
      if (first == 0) {
        first = line;
        return key.exists;
      }
      second = line;
      secondRecord.Keep(line, fields);
      return false;
    });
    if (second != 0) {
      std::string shown;
      for (std::size_t k = 0; k < rule.fields.size(); ++k)
        shown += (shown.empty() ? "" : ", ") +
                 (rule.fields[k] == SIZE_MAX ? std::string() : secondRecord.texts[rule.fields[k]]);
      std::string description;
      for (std::size_t c : rule.columns)
        description += (description.empty() ? "" : ", ") + shape_->Column(c).ColumnName;
      throw CsvLoadError(second, "(" + description + ")", shown,
                         "repeats the key of line " + std::to_string(first) +
                             " as the table compares keys; the table keeps its key unique");
    }
    if (first != 0) text.insert(key.end, " of line " + std::to_string(first) + " of the file");
  }

  // "the rows at positions 64 to 127 (0-based)": the lines of the first and
  // the last.
  void NameLineRange(std::string& text) {
    const std::string lead = "the rows at positions ";
    const std::size_t at = text.find(lead);
    if (at == std::string::npos) return;
    std::uint64_t numbers[2] = {0, 0};
    std::size_t end = at + lead.size();
    for (int k = 0; k < 2; ++k) {
      const std::size_t digits = end;
      while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        numbers[k] = numbers[k] * 10 + static_cast<std::uint64_t>(text[end++] - '0');
      const std::string_view after = k == 0 ? " to " : " (0-based)";
      if (end == digits || text.compare(end, after.size(), after) != 0) return;
      end += after.size();
    }
    std::uint64_t lines[2] = {0, 0};
    Reread([&](CsvRowBuilder&, std::uint64_t position, std::uint64_t line, std::span<const CsvField>) {
      if (position == numbers[0]) lines[0] = line;
      if (position == numbers[1]) lines[1] = line;
      return position < numbers[1];
    });
    if (lines[0] != 0 && lines[1] != 0)
      text.replace(at, end - at,
                   "the rows of lines " + std::to_string(lines[0]) + " to " + std::to_string(lines[1]) +
                       " of the file");
  }

  std::shared_ptr<const Data::DataTable> shape_;
  const CsvLoadOptions& options_;
  const CsvReadOptions& readOptions_;
  const std::string& path_;
  std::FILE* copy_;
};

struct FileCloser {
  void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

}  // namespace

CsvLoadError::CsvLoadError(std::uint64_t line, std::string column, std::string value, std::string reason)
    : Error(DescribeLoadError(line, column, value, reason)),
      line_(line),
      column_(std::move(column)),
      value_(std::move(value)),
      reason_(std::move(reason)) {}

namespace {

// The load; `committed` is set once the commit went through.
CsvLoadSummary Load(IConnectWrapper& db, const std::string& table, const std::string& path,
                    const CsvLoadOptions& options, bool& committed) {
  const Clock::time_point start = Clock::now();
  CsvReadOptions readOptions;
  readOptions.delimiter = options.delimiter;
  readOptions.encoding = CharsetOf(options.encoding);
  readOptions.nullText = options.nullText;
  if (!Text::IsKnownCharset(readOptions.encoding))
    throw ArgumentError("unknown encoding " + Quoted(options.encoding) +
                        " (UTF-8, latin1, locale, or a name iconv knows such as CP1252)");
  // The bridge offers no streamed write, so the load has a component of its
  // own, on the bridge's database, for the table's shape and the write.
  const std::shared_ptr<DbConnect> component =
      DbConnectFactory::CreateDbConnect(db.GetConnectionString(), options.tableSet);
  const std::shared_ptr<const Data::DataTable> shape = ReadShape(*component, table, options.tableSet);

  // Standard input cannot be read twice: a copy is kept for the failure path.
  std::unique_ptr<std::FILE, FileCloser> copy;
  if (path == "-") {
    copy.reset(std::tmpfile());
    if (!copy) throw ArgumentError("cannot make a temporary file to keep a copy of standard input");
    readOptions.copyTo = copy.get();
  }

  CsvLoadProgress progress;
  progress.bytesTotal = CsvFileSize(path);
  Clock::time_point lastReport = start;
  Clock::duration writing{};  // the writing thread's time in Append, then the commit's

  const std::unique_ptr<BulkStream> stream = component->OpenBulkStream(*shape);
  Data::detail::TableHandOff handOff([&](Data::DataTable& batch) {
    const Clock::time_point begin = Clock::now();
    const bool written = stream->Append(batch);
    writing += Clock::now() - begin;
    return written;
  });
  BatchingSink sink(shape, options.columns, [&](std::shared_ptr<Data::DataTable> batch) {
    if (!handOff.Put(std::move(batch))) throw WriteStopped{};
  });
  FailedWrite failed(shape, options, readOptions, path, copy.get());
  auto throwWriteFailure = [&]() {
    failed.Throw(table, component->Message().value_or(std::string()), stream->Category(),
                 stream->FailedRow());
  };

  if (options.progress) {
    readOptions.onBlock = [&](std::uint64_t bytesRead) {
      const Clock::time_point now = Clock::now();
      if (now - lastReport < options.progressInterval) return;
      lastReport = now;
      progress.rows = sink.Records();
      progress.bytesRead = bytesRead;
      progress.seconds = SecondsSince(start);
      options.progress(progress);
    };
  }
  CsvReadCounts counts;
  try {
    counts = ReadCsv(path, sink, readOptions);
    if (!sink.HasBuilder())
      throw ArgumentError("CSV file " + Quoted(path) + " is empty: it needs a header row of column names");
    if (std::shared_ptr<Data::DataTable> last = sink.TakeBatch())
      if (!handOff.Put(std::move(last))) throw WriteStopped{};
  } catch (const WriteStopped&) {
    handOff.Finish();
    throwWriteFailure();
  } catch (...) {
    // A row the database refused comes before whatever stopped the reading.
    if (!handOff.Finish()) throwWriteFailure();
    throw;
  }

  const std::uint64_t records = sink.Records();
  if (options.progress) {
    progress.phase = CsvLoadProgress::Phase::Writing;
    progress.rows = records;
    progress.bytesRead = progress.bytesTotal;
    progress.seconds = SecondsSince(start);
    options.progress(progress);
  }
  if (!handOff.Finish()) throwWriteFailure();
  const Clock::time_point commitStart = Clock::now();
  if (!stream->Commit()) throwWriteFailure();
  committed = true;
  writing += Clock::now() - commitStart;
  if (stream->Rows() != records)
    throw Error("table " + Quoted(table) + " took " + std::to_string(stream->Rows()) + " of the file's " +
                std::to_string(records) + " rows");

  CsvLoadSummary summary;
  summary.table = table;
  summary.rows = records;
  summary.rowsRead = records + counts.blankLines;
  if (counts.blankLines > 0)
    summary.skipped.push_back({"blank line", counts.blankLines, counts.firstBlankLine});
  summary.writeSeconds = std::chrono::duration<double>(writing).count();
  summary.seconds = SecondsSince(start);
  summary.executionTime = static_cast<long>(stream->Milliseconds());
  summary.message = records > 0 ? component->Message().value_or(std::string()) : std::string();
  return summary;
}

}  // namespace

CsvLoadSummary LoadCsvFile(IConnectWrapper& db, const std::string& table, const std::string& path,
                           const CsvLoadOptions& options) {
  bool committed = false;
  try {
    return Load(db, table, path, options, committed);
  } catch (const std::bad_alloc&) {
    // By now the load's stream is gone: what it had not committed it rolled
    // back. The rows are no cause, so no line is named.
    if (committed)
      throw Error("table " + Quoted(table) +
                  " was written, but the load ran out of memory after the commit, before it could report");
    throw DatabaseError("table " + Quoted(table) + " was not written: the load ran out of memory. " +
                            kRerunTransaction + ". Nothing of the table was written.",
                        ErrorCategory::Rerun);
  }
}

}  // namespace Tessel::Jobs
