#include "services/query.h"

#include <algorithm>
#include <iterator>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bridge/bridge_io.h"
#include "bridge/messages.h"
#include "services/json_text.h"
#include "services/sources.h"

namespace plinthos {

namespace {
constexpr const char* kScriptPrefix = "/tmp/duckquery_";
constexpr std::size_t kResultSlack = 64;
constexpr std::size_t kFirstResultCapacity = 1 << 16;  // grown as the answer needs

// Turns the engine's JSON output into the query result's text in one pass of the parser: no
// document of the output or of the result is built. Cells are written as a document of the
// output would dump them (strings as they are, null as "", numbers in the serializer's form,
// nested values as compact JSON with members sorted by name).
class ResultWriter final : public nlohmann::json_sax<ordered_json> {
 public:
  explicit ResultWriter(std::string& out) : out_(out) {}

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
  bool string(string_t& value) override {
    if (nested()) return add(std::move(value));
    if (!cellWanted()) return scalar(Cell::Text);
    appendJsonString(cellStart(), value);
    return scalar(Cell::Text);
  }
  bool binary(binary_t&) override { return false; }  // never produced by the text parser

  bool start_object(std::size_t) override { return open(true); }
  bool start_array(std::size_t) override { return open(false); }
  bool key(string_t& name) override {
    if (nested()) {
      nestedKey_ = std::move(name);
    } else if (state_ == State::Rows && depth_ == kMemberDepth) {
      column_ = columnOf(name);
    }
    return true;
  }
  bool end_object() override { return close(); }
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
        appendJsonString(cell, toReply(nestedValue_));
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
        out_ += "]}";
        state_ = State::Done;
      }
    }
    return true;
  }

  // The column a member of the current row belongs to; the first row makes the columns.
  std::size_t columnOf(const std::string& name) {
    std::size_t expected = memberIndex_++;
    if (expected < columns_.size() && columns_[expected] == name) return expected;
    auto it = index_.find(name);
    if (it != index_.end()) return it->second;
    if (!firstRow_) return kNoColumn;
    index_.emplace(name, columns_.size());
    columns_.push_back(name);
    cells_.emplace_back();
    present_.push_back(false);
    numeric_.push_back(false);
    return columns_.size() - 1;
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
        out_ += numeric_[i] ? "true" : "false";
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
      }
    }
    out_ += ']';
  }

  std::string& out_;
  State state_ = State::Start;
  int depth_ = 0;
  bool firstRow_ = true;
  std::vector<std::string> columns_;
  std::unordered_map<std::string, std::size_t> index_;
  std::vector<std::string> cells_;  // the current row's cells as JSON strings
  std::vector<bool> present_;       // whether the current row holds a value for the column
  std::vector<bool> numeric_;
  std::size_t column_ = kNoColumn;
  std::size_t memberIndex_ = 0;
  json nestedValue_;
  std::vector<json*> nesting_;
  std::string nestedKey_;
};

// The engine's output pieces as one run of characters for the parser, read as it needs them.
class PieceIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  PieceIterator() = default;  // the end
  explicit PieceIterator(EngineOutput* output) : output_(output) {}

  reference operator*() const { return *at_; }
  PieceIterator& operator++() {
    ++at_;
    return *this;
  }
  // Only ever compared with the end: more to read unless the output has ended.
  bool operator!=(const PieceIterator&) const {
    if (at_ == end_ && output_) {
      std::string_view piece = output_->next();
      at_ = piece.data();
      end_ = piece.data() + piece.size();
      if (piece.empty()) output_ = nullptr;
    }
    return at_ != end_;
  }
  bool operator==(const PieceIterator& other) const { return !(*this != other); }

 private:
  mutable EngineOutput* output_ = nullptr;
  mutable const char* at_ = nullptr;
  mutable const char* end_ = nullptr;
};

// `parse` runs the parser with the writer it is given.
template <typename Parse>
std::optional<std::string> convert(Parse&& parse, std::size_t expectedSize) {
  std::string result;
  // The result is about as long as the output (member names dropped, cells quoted); pages
  // reserved but never written cost no memory.
  result.reserve(expectedSize);
  ResultWriter writer(result);
  if (!parse(writer)) return std::nullopt;
  writer.finish();
  return result;
}

}  // namespace

std::optional<std::string> queryResultFromOutput(const std::string& output) {
  return convert([&](ResultWriter& writer) { return ordered_json::sax_parse(output, &writer); },
                 output.size() + kResultSlack);
}

std::optional<std::string> queryResultFromOutput(EngineOutput& output) {
  return convert(
      [&](ResultWriter& writer) {
        return ordered_json::sax_parse(PieceIterator(&output), PieceIterator(), &writer);
      },
      kFirstResultCapacity);
}

// Arguments: [sql]; folder arguments of read_csv/read_parquet are expanded to file patterns.
// Reply: {"columns":[...],"numericCols":[...],"rows":[...]}.
// Failures: {"error": text} with "Failed to create temp file", "Failed to run database engine",
// the engine's output on a non-zero exit (else "Query failed"), or the raw output when it is
// not one JSON array of objects; also for arguments that are not [text].
std::string queryDuckCpp(const std::string& args, const ServiceEnv& env) {
  return guarded(
      [&] {
        std::string problem;
        auto values = readTextArgs(args, 1, &problem);
        if (!values) return errorReply(problem);
        std::string folder = workingFolder(env.exePath);
        std::string sql = expandAllSourceFolders(folder, (*values)[0]);
        std::optional<std::string> result;
        EngineRun run =
            runEngine(folder, env.duckdbPath, sql, kScriptPrefix, OutputMode::Json,
                      [&](EngineOutput& output) { result = queryResultFromOutput(output); });
        if (auto failed = failedRunReply(run, messages::kQueryFailed)) return *failed;
        if (result) return std::move(*result);
        return errorReply(run.output);
      },
      [](const std::string& what) { return errorReply(messages::kInternalError + what); });
}

}  // namespace plinthos
