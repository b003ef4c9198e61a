#include "services/query.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/messages.h"
#include "common/outcome.h"
#include "services/folders.h"
#include "services/json_text.h"
#include "services/sources.h"

namespace plinthos {

namespace {
constexpr EngineJob kQueryJob{"/tmp/duckquery_", OutputMode::JsonColumns, messages::kQueryFailed};
constexpr std::size_t kResultSlack = 64;

}  // namespace

// Turns the engine's JSON output into the query result's text as one parser's events arrive:
// no document of the output or of the result is built. Cells are written as a document of the
// output would dump them (strings as they are, null as "", numbers in the serializer's form,
// nested values as compact JSON with members sorted by name). A NULL cell, or one the row lacks,
// is also listed in "nulls" as [row, column], so pages can tell it from an empty text.
class ResultWriter final : public nlohmann::json_sax<ordered_json> {
 public:
  // `kinds`, when given, tells which columns are numeric by name; otherwise the first row does.
  ResultWriter(std::string& out, const std::unordered_map<std::string, bool>* kinds)
      : out_(out), kinds_(kinds) {}

  // After a successful parse: the result text is complete.
  void finish() {
    if (state_ != State::Done) {
      out_ = kEmptyResult;  // not an array, or an empty one
    }
  }

  bool null() override { return scalar(Cell::Null); }
  bool boolean(bool value) override {
    if (nested()) return add(value);
    return scalar(value ? Cell::True : Cell::False);
  }
  bool number_integer(number_integer_t value) override { return number(value); }
  bool number_unsigned(number_unsigned_t value) override { return number(value); }
  bool number_float(number_float_t value, const string_t&) override { return number(value); }
  bool string(string_t& value) override { return text(value); }
  bool text(std::string_view value) {
    if (nested()) return add(std::string(value));
    if (!cellWanted()) return scalar(Cell::Text);
    appendJsonString(cellStart(), value);
    return scalar(Cell::Text);
  }
  bool binary(binary_t&) override { return false; }  // never produced by the text parser

  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool key(string_t& name) override { return member(name); }
  bool member(std::string_view name) {
    if (nested()) {
      nestedKey_ = name;
    } else if (state_ == State::Rows && depth_ == kMemberDepth) {
      column_ = columnOf(name);
    }
    return true;
  }
  bool end_object() override { return close(); }

  // A row after the first whose members are the columns in order, each a scalar: written
  // straight to the result, as the events would write it. False, with nothing written, for any
  // other row.
  bool plainRow(simdjson::dom::object row) {
    if (state_ != State::Rows || firstRow_ || depth_ != kRowDepth || nested() ||
        row.size() != columns_.size()) {
      return false;
    }
    const std::size_t mark = out_.size();
    const std::size_t nullMark = nulls_.size();
    out_ += ",[";
    std::size_t i = 0;
    for (simdjson::dom::key_value_pair member : row) {
      if (member.key != columns_[i] || !plainCell(member.value, i)) {
        out_.resize(mark);
        nulls_.resize(nullMark);
        return false;
      }
      ++i;
    }
    out_ += ']';
    ++rowIndex_;
    return true;
  }
  bool end_array() override { return close(); }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

 private:
  static constexpr const char* kEmptyResult = R"({"columns":[],"numericCols":[],"rows":[]})";
  static constexpr int kRowDepth = 1;     // the elements of the top-level array
  static constexpr int kMemberDepth = 2;  // the members of one row object
  static constexpr std::size_t kNoColumn = static_cast<std::size_t>(-1);

  enum class State { Start, Ignoring, Rows, Done };
  enum class Cell { Null, True, False, Number, Text, Nested };

  bool nested() const { return !nesting_.empty(); }

  // The member being read belongs to a column (members past the first row's are dropped).
  bool cellWanted() const {
    return state_ == State::Rows && depth_ == kMemberDepth && column_ != kNoColumn;
  }

  std::string& cellStart() {
    std::string& cell = cells_[column_];
    cell.clear();
    return cell;
  }

  // A scalar at the depth of the current container: a cell, or a value where a row belongs.
  bool scalar(Cell kind) {
    if (nested()) return add(nullptr);
    if (state_ == State::Ignoring || depth_ == 0) {
      state_ = State::Ignoring;
      return true;
    }
    if (depth_ == kRowDepth) return false;  // an element that is not a row object
    if (column_ != kNoColumn) record(kind);
    return true;
  }

  void record(Cell kind) {
    switch (kind) {
      case Cell::Null:
        cells_[column_].clear();
        break;
      case Cell::True:
        cells_[column_] = "\"true\"";
        break;
      case Cell::False:
        cells_[column_] = "\"false\"";
        break;
      case Cell::Number:
      case Cell::Text:
      case Cell::Nested:
        break;  // already written, as a JSON string
    }
    present_[column_] = kind != Cell::Null;
    if (firstRow_) numeric_[column_] = kind == Cell::Number;
  }

  template <typename Number>
  bool number(Number value) {
    if (nested()) return add(value);
    if (cellWanted()) {
      std::string& cell = cellStart();
      cell += '"';
      if constexpr (std::is_floating_point_v<Number>) {
        appendJsonDouble(cell, value);
      } else {
        appendJsonInteger(cell, value);
      }
      cell += '"';
    }
    return scalar(Cell::Number);
  }

  template <typename Value>
  bool add(Value&& value) {
    json& top = *nesting_.back();
    if (top.is_object()) {
      top[nestedKey_] = std::forward<Value>(value);
    } else {
      top.push_back(std::forward<Value>(value));
    }
    return true;
  }

  static json container(bool object) { return object ? json::object() : json::array(); }

  bool open(bool object) {
    if (nested()) {
      json& top = *nesting_.back();
      json* child = nullptr;
      if (top.is_object()) {
        child = &(top[nestedKey_] = container(object));
      } else {
        top.push_back(container(object));
        child = &top.back();
      }
      nesting_.push_back(child);
      return true;
    }
    if (state_ == State::Ignoring || (depth_ == 0 && object)) {
      state_ = State::Ignoring;
      ++depth_;
      return true;
    }
    if (depth_ == kRowDepth) {
      if (!object) return false;  // an element that is not a row object
      state_ = State::Rows;
      std::fill(present_.begin(), present_.end(), false);
      memberIndex_ = 0;
    } else if (depth_ == kMemberDepth) {
      // A structured cell: built as a document, since its members are written sorted.
      nestedValue_ = container(object);
      nesting_.push_back(&nestedValue_);
      return true;
    }
    ++depth_;
    return true;
  }

  bool close() {
    if (nested()) {
      nesting_.pop_back();
      if (!nested() && column_ != kNoColumn && state_ == State::Rows) {
        std::string& cell = cellStart();
        appendJsonString(cell, compactJson(nestedValue_));
        record(Cell::Nested);
      }
      return true;
    }
    --depth_;
    if (state_ == State::Ignoring) return true;
    if (depth_ == kRowDepth) {
      writeRow();
    } else if (depth_ == 0) {
      if (state_ == State::Rows) {
        out_ += ']';
        if (!nulls_.empty()) {
          out_ += ",\"nulls\":[";
          out_ += nulls_;
          out_ += ']';
        }
        out_ += '}';
        state_ = State::Done;
      }
    }
    return true;
  }

  // The column a member of the current row belongs to; the first row makes the columns.
  std::size_t columnOf(std::string_view name) {
    std::size_t expected = memberIndex_++;
    if (expected < columns_.size() && columns_[expected] == name) return expected;
    auto it = index_.find(name);
    if (it != index_.end()) return it->second;
    if (!firstRow_) return kNoColumn;
    index_.emplace(name, columns_.size());
    columns_.emplace_back(name);
    cells_.emplace_back();
    present_.push_back(false);
    numeric_.push_back(false);
    return columns_.size() - 1;
  }

  bool plainCell(simdjson::dom::element value, std::size_t column) {
    using Type = simdjson::dom::element_type;
    if (column != 0) out_ += ',';
    switch (value.type()) {
      case Type::STRING:
        appendJsonString(out_, value.get_string().value_unsafe());
        return true;
      case Type::INT64:
        out_ += '"';
        appendJsonInteger(out_, value.get_int64().value_unsafe());
        out_ += '"';
        return true;
      case Type::UINT64:
        out_ += '"';
        appendJsonInteger(out_, value.get_uint64().value_unsafe());
        out_ += '"';
        return true;
      case Type::DOUBLE:
        out_ += '"';
        appendJsonDouble(out_, value.get_double().value_unsafe());
        out_ += '"';
        return true;
      case Type::BOOL:
        out_ += value.get_bool().value_unsafe() ? "\"true\"" : "\"false\"";
        return true;
      case Type::NULL_VALUE:
        out_ += "\"\"";
        noteNull(column);
        return true;
      case Type::ARRAY:
      case Type::OBJECT:
        break;
    }
    return false;
  }

  void writeRow() {
    if (firstRow_) {
      firstRow_ = false;
      out_ += "{\"columns\":[";
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i) out_ += ',';
        appendJsonString(out_, columns_[i]);
      }
      out_ += "],\"numericCols\":[";
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i) out_ += ',';
        bool numeric = numeric_[i];
        if (kinds_) {
          auto kind = kinds_->find(columns_[i]);
          numeric = kind != kinds_->end() && kind->second;
        }
        out_ += numeric ? "true" : "false";
      }
      out_ += "],\"rows\":[";
    } else {
      out_ += ',';
    }
    out_ += '[';
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      if (i) out_ += ',';
      if (present_[i]) {
        out_ += cells_[i];
      } else {
        out_ += "\"\"";
        noteNull(i);
      }
    }
    out_ += ']';
    ++rowIndex_;
  }

  void noteNull(std::size_t column) {
    if (!nulls_.empty()) nulls_ += ',';
    nulls_ += '[';
    appendJsonInteger(nulls_, static_cast<std::uint64_t>(rowIndex_));
    nulls_ += ',';
    appendJsonInteger(nulls_, static_cast<std::uint64_t>(column));
    nulls_ += ']';
  }

  std::string& out_;
  const std::unordered_map<std::string, bool>* kinds_;
  State state_ = State::Start;
  int depth_ = 0;
  bool firstRow_ = true;
  std::vector<std::string> columns_;
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>{}(name);
    }
  };
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> index_;
  std::vector<std::string> cells_;  // the current row's cells as JSON strings
  std::vector<bool> present_;       // whether the current row holds a value for the column
  std::vector<bool> numeric_;
  std::size_t column_ = kNoColumn;
  std::size_t memberIndex_ = 0;
  std::size_t rowIndex_ = 0;
  std::string nulls_;  // "[row,column]" pairs of the NULL cells so far, comma-separated
  json nestedValue_;
  std::vector<json*> nesting_;
  std::string nestedKey_;
};

namespace {

// Feeds a parsed document to the writer as the same events the JSON library's parser sends.
bool walk(simdjson::dom::element value, ResultWriter& writer) {
  using Type = simdjson::dom::element_type;
  switch (value.type()) {
    case Type::ARRAY: {
      simdjson::dom::array array = value.get_array().value_unsafe();
      if (!writer.start_array(array.size())) return false;
      for (simdjson::dom::element element : array) {
        if (!walk(element, writer)) return false;
      }
      return writer.end_array();
    }
    case Type::OBJECT: {
      simdjson::dom::object object = value.get_object().value_unsafe();
      if (!writer.start_object(object.size())) return false;
      for (simdjson::dom::key_value_pair member : object) {
        if (!writer.member(member.key) || !walk(member.value, writer)) return false;
      }
      return writer.end_object();
    }
    case Type::INT64:
      return writer.number_integer(value.get_int64().value_unsafe());
    case Type::UINT64:
      return writer.number_unsigned(value.get_uint64().value_unsafe());
    case Type::DOUBLE:
      return writer.number_float(value.get_double().value_unsafe(), {});
    case Type::STRING:
      return writer.text(value.get_string().value_unsafe());
    case Type::BOOL:
      return writer.boolean(value.get_bool().value_unsafe());
    case Type::NULL_VALUE:
      return writer.null();
  }
  return false;
}

// Converts the rows with the fast parser, in batches cut between rows so that its memory stays
// the size of one batch. The engine prints "[" row ",\n" row ... "]\n", one row to a line; a
// raw line break cannot stand inside a JSON string, so a ",\n" that leaves a well-formed list
// of values before it lies between two rows. False for output of any other shape, or that the
// fast parser refuses.
bool convertInBatches(std::string_view output, std::size_t batchBytes, std::string& result,
                      const std::unordered_map<std::string, bool>* kinds) {
  if (!output.empty() && output.back() == '\n') output.remove_suffix(1);
  if (output.size() < 2 || output.front() != '[' || output.back() != ']') return false;
  std::string_view rows = output.substr(1, output.size() - 2);
  simdjson::dom::parser parser;
  std::string text;  // "[" batch "]", with the parser's padding
  ResultWriter writer(result, kinds);
  writer.start_array(static_cast<std::size_t>(-1));
  for (bool last = false; !last;) {
    std::size_t cut =
        rows.size() <= batchBytes ? std::string_view::npos : rows.rfind(",\n", batchBytes);
    if (cut == std::string_view::npos && rows.size() > batchBytes)
      cut = rows.find(",\n", batchBytes);
    last = cut == std::string_view::npos;
    std::string_view batch = last ? rows : rows.substr(0, cut);
    text.clear();
    text.reserve(batch.size() + 2 + simdjson::SIMDJSON_PADDING);
    text += '[';
    text.append(batch);
    text += ']';
    simdjson::dom::array parsed;
    if (parser.parse(text.data(), text.size(), false).get_array().get(parsed)) return false;
    for (simdjson::dom::element row : parsed) {
      simdjson::dom::object plain;
      if (!row.get_object().get(plain) && writer.plainRow(plain)) continue;
      if (!walk(row, writer)) return false;
    }
    if (!last) rows.remove_prefix(cut + 2);
  }
  writer.end_array();
  writer.finish();
  return true;
}

// The answer's columns from the engine's column line: names in order, numeric by type.
struct ColumnLine {
  std::vector<std::string> names;
  std::unordered_map<std::string, bool> numeric;  // the first column of a name decides
};

std::optional<ColumnLine> columnLine(std::string_view line) {
  ordered_json header = ordered_json::parse(line, nullptr, false);
  if (!header.is_object() || header.size() != 1 || !header.contains("columns") ||
      !header["columns"].is_array()) {
    return std::nullopt;
  }
  ColumnLine columns;
  for (const auto& column : header["columns"]) {
    if (!column.is_object() || !column.contains("name") || !column["name"].is_string()) {
      return std::nullopt;
    }
    std::string name = column["name"].get<std::string>();
    bool numeric = column.contains("numeric") && column["numeric"].is_boolean() &&
                   column["numeric"].get<bool>();
    if (columns.numeric.emplace(name, numeric).second) columns.names.push_back(std::move(name));
  }
  return columns;
}

// An answer without rows: its columns and no row.
std::string emptyAnswer(const ColumnLine& columns) {
  std::string out = "{\"columns\":[";
  for (std::size_t i = 0; i < columns.names.size(); ++i) {
    if (i) out += ',';
    appendJsonString(out, columns.names[i]);
  }
  out += "],\"numericCols\":[";
  for (std::size_t i = 0; i < columns.names.size(); ++i) {
    if (i) out += ',';
    out += columns.numeric.at(columns.names[i]) ? "true" : "false";
  }
  out += "],\"rows\":[]}";
  return out;
}

}  // namespace

// The fast parser reads the engine's own layout; whatever it does not take (another shape, a
// byte order mark, integers past 64 bits, numbers out of range, very deep nesting, anything
// malformed) the JSON library's parser reads again whole, so the reply never depends on which
// parser read it.
std::optional<std::string> queryResultFromOutput(const std::string& output,
                                                 std::size_t batchBytes) {
  std::string_view rows = output;
  // Rows never start with "{": a leading object is the column line of the answer.
  std::optional<ColumnLine> columns;
  if (!rows.empty() && rows.front() == '{') {
    std::size_t end = rows.find('\n');
    columns = columnLine(rows.substr(0, end));
    if (columns) rows.remove_prefix(end == std::string_view::npos ? rows.size() : end + 1);
  }
  if (columns && rows.empty()) return emptyAnswer(*columns);
  const auto* kinds = columns ? &columns->numeric : nullptr;
  std::string result;
  // The result is about as long as the output (member names dropped, cells quoted); pages
  // reserved but never written cost no memory.
  result.reserve(rows.size() + kResultSlack);
  if (convertInBatches(rows, batchBytes, result, kinds)) return result;
  result.clear();
  ResultWriter writer(result, kinds);
  if (!ordered_json::sax_parse(rows, &writer)) return std::nullopt;
  writer.finish();
  return result;
}

Result<JsonText> queryDuck(const std::string& sql, const ServiceEnv& env) {
  std::string folder = workingFolder(env.exePath);
  // Converted once the engine has ended: converting while it writes only took CPU time from
  // it, and the answer came later.
  auto run = runJob(env, folder, expandAllSourceFolders(folder, sql), kQueryJob);
  auto* output = std::get_if<std::string>(&run);
  if (!output) return passOn<JsonText>(std::move(run));
  auto result = queryResultFromOutput(*output);
  if (!result) return Failure{std::move(*output)};
  // The engine leaves out what it cannot read below a folder without a word; the answer says so.
  auto unreadable = unreadableFolderParts(folder, sql);
  if (!unreadable.empty() && !result->empty() && result->back() == '}') {
    result->pop_back();
    *result += ",\"unreadable\":[";
    for (std::size_t i = 0; i < unreadable.size(); ++i) {
      if (i != 0) *result += ',';
      appendJsonString(*result, unreadable[i]);
    }
    *result += "]}";
  }
  return JsonText{std::move(*result)};
}

}  // namespace plinthos
