#include "services/held.h"

#include <sys/mman.h>
#include <sys/random.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <utility>

#include "common/messages.h"
#include "services/folders.h"
#include "services/sources.h"

namespace plinthos {

namespace {

using Clock = std::chrono::steady_clock;
using held::Kind;

constexpr EngineJob kHoldJob{"/tmp/duckhold_", OutputMode::Held, messages::kQueryFailed};
constexpr std::size_t kFirstRows = 500;
constexpr std::size_t kMostRowsPerFetch = 10000;
constexpr std::size_t kMostTextsPerFetch = 1000000;
constexpr std::size_t kFewestPoints = 3;
constexpr std::size_t kMostPoints = 20000;
constexpr std::size_t kDefaultCapMb = 2048;
constexpr std::size_t kMb = 1024 * 1024;
constexpr auto kUnusedFor = std::chrono::minutes(30);
constexpr std::size_t kIdBytes = 16;
constexpr const char* kUnreadableLayout = "The engine's answer could not be read";
constexpr std::size_t kDropTaken = 1 << 20;
constexpr std::size_t kFirstBlock = std::size_t{1} << 20;
// Huge pages only for blocks this large: a small answer should not take 2 MB for a few rows.
constexpr std::size_t kHugeBlock = std::size_t{16} << 20;
constexpr std::size_t kLargestBlock = std::size_t{256} << 20;

// Reads the layout front to back; every read checks that the bytes are there.
class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  template <typename T>
  bool take(T& value) {
    if (rest_.size() < sizeof value) return false;
    std::memcpy(&value, rest_.data(), sizeof value);
    rest_.remove_prefix(sizeof value);
    return true;
  }
  bool empty() const { return rest_.empty(); }
  const char* here() const { return rest_.data(); }
  bool skip(std::size_t count) {
    if (rest_.size() < count) return false;
    rest_.remove_prefix(count);
    return true;
  }
  bool takeText(std::string_view& text) {
    std::uint32_t length = 0;
    if (!take(length) || rest_.size() < length) return false;
    text = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return true;
  }

 private:
  std::string_view rest_;
};

// A number's text as the JSON library reads and writes it again: whole numbers as integers while
// they fit, the rest as doubles. Also its value.
void appendNumberCell(std::string& cell, std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  value = std::numeric_limits<double>::quiet_NaN();
  auto parsed = std::from_chars(first, last, value);
  if (parsed.ec != std::errc() || parsed.ptr != last) {
    cell.append(text);  // "nan", "inf": kept as the engine wrote them
    return;
  }
  if (text.find_first_of(".eE") == std::string_view::npos) {
    std::int64_t i = 0;
    std::uint64_t u = 0;
    if (auto r = std::from_chars(first, last, i); r.ec == std::errc() && r.ptr == last) {
      appendJsonInteger(cell, i);
      return;
    }
    if (auto r = std::from_chars(first, last, u); r.ec == std::errc() && r.ptr == last) {
      appendJsonInteger(cell, u);
      return;
    }
  }
  if (std::isfinite(value)) {
    appendJsonDouble(cell, value);
  } else {
    cell.append(text);
  }
}

void appendDoubleText(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "nan";
  } else if (std::isinf(value)) {
    out += value > 0 ? "inf" : "-inf";
  } else {
    appendJsonDouble(out, value);
  }
}

// Finds where column's cells are in the chunk `in` reads (its raw bytes start at `raw`).
bool indexChunkColumn(Reader& in, const char* raw, HeldColumn& column, HeldChunk::Column& at,
                      std::uint32_t rows, bool first) {
  std::uint8_t kindByte = 0;
  if (!in.take(kindByte) || kindByte < 1 || kindByte > static_cast<std::uint8_t>(Kind::Json)) {
    return false;
  }
  const auto kind = static_cast<Kind>(kindByte);
  if (first) {
    column.kind = kind;
  } else if (kind != column.kind) {
    return false;
  }
  switch (kind) {
    case Kind::Int:
    case Kind::Unsigned:
    case Kind::Double:
      at.valuesAt = static_cast<std::size_t>(in.here() - raw);
      if (!in.skip(std::size_t{rows} * sizeof(std::int64_t))) return false;
      break;
    case Kind::Text:
    case Kind::NumberText:
    case Kind::Json:
      if (kind == Kind::Text) at.textAt.reserve(rows);
      for (std::uint32_t r = 0; r < rows; ++r) {
        std::string_view text;
        if (!in.takeText(text)) return false;
        if (kind == Kind::Text) {
          at.textAt.push_back(static_cast<std::uint32_t>(text.data() - raw));
          continue;
        }
        if (kind == Kind::NumberText) {
          double value = 0;
          if (!text.empty()) appendNumberCell(at.text, text, value);
          at.doubles.push_back(text.empty() ? std::nan("") : value);
        } else if (!text.empty()) {
          // Members sorted by name, as the query result writes nested values.
          auto value = nlohmann::json::parse(text, nullptr, false);
          at.text += value.is_discarded() ? std::string(text) : value.dump();
        }
        at.ends.push_back(static_cast<std::uint32_t>(at.text.size()));
      }
      break;
  }
  at.validAt = static_cast<std::size_t>(in.here() - raw);
  return in.skip(rows);
}

std::string randomId() {
  unsigned char bytes[kIdBytes];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (unsigned char b : bytes) {
    id += kHex[b >> 4];
    id += kHex[b & 0xF];
  }
  return id;
}

void appendCsvField(std::string& out, std::string_view text) {
  if (text.empty()) {
    out += "\"\"";
    return;
  }
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(text);
    return;
  }
  out += '"';
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// Every held answer, by id, with its place and last use.
class Registry {
 public:
  static Registry& get() {
    static Registry registry;
    return registry;
  }

  // A run of `place` starts: frees what the place holds and makes this run the place's latest,
  // so an older run that ends later holds nothing. The run's ticket and the room left under the
  // cap.
  std::pair<std::uint64_t, std::size_t> start(const std::string& place) {
    std::lock_guard lock(mutex_);
    expire();
    dropPlace(place);
    const std::uint64_t ticket = ++latest_[place];
    std::size_t used = usedLocked();
    std::size_t cap = heldCapBytes();
    return {ticket, used < cap ? cap - used : 0};
  }

  enum class Held { Ok, Superseded, TooLarge };

  // Holds the answer of the run with `ticket`, unless a later run of the place has started.
  Held hold(const std::string& place, std::uint64_t ticket,
            std::shared_ptr<const HeldAnswer> shared, std::string& id) {
    std::lock_guard lock(mutex_);
    // The latest run's start already freed what the place held.
    if (latest_[place] != ticket) return Held::Superseded;
    if (usedLocked() + shared->bytes() > heldCapBytes()) return Held::TooLarge;
    id = randomId();
    answers_[id] = Entry{place, std::move(shared), Clock::now()};
    return Held::Ok;
  }

  std::shared_ptr<const HeldAnswer> find(const std::string& id) {
    std::lock_guard lock(mutex_);
    expire();
    auto it = answers_.find(id);
    if (it == answers_.end()) return nullptr;
    it->second.used = Clock::now();
    return it->second.answer;
  }

  void free(const std::string& id) {
    std::lock_guard lock(mutex_);
    answers_.erase(id);
  }

  void freeAll() {
    std::lock_guard lock(mutex_);
    answers_.clear();
  }

  std::pair<std::size_t, std::size_t> usage() {
    std::lock_guard lock(mutex_);
    return {answers_.size(), usedLocked()};
  }

 private:
  struct Entry {
    std::string place;
    std::shared_ptr<const HeldAnswer> answer;
    Clock::time_point used;
  };

  void dropPlace(const std::string& place) {
    for (auto it = answers_.begin(); it != answers_.end();) {
      it = it->second.place == place ? answers_.erase(it) : std::next(it);
    }
  }

  void expire() {
    const auto now = Clock::now();
    for (auto it = answers_.begin(); it != answers_.end();) {
      it = now - it->second.used > kUnusedFor ? answers_.erase(it) : std::next(it);
    }
  }

  std::size_t usedLocked() const {
    std::size_t used = 0;
    for (const auto& [id, entry] : answers_) used += entry.answer->bytes();
    return used;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, Entry> answers_;
  std::unordered_map<std::string, std::uint64_t> latest_;  // the latest run's ticket per place
};

std::string tooLarge() {
  return "This answer is larger than the " + std::to_string(heldCapBytes() / kMb) +
         " MB Plinthos holds at once: add a LIMIT or choose fewer columns.";
}

// The query of a fetch path, by name; values with %XX decoded.
std::map<std::string, std::string, std::less<>> queryOf(std::string_view query) {
  std::map<std::string, std::string, std::less<>> values;
  while (!query.empty()) {
    std::string_view pair = query.substr(0, query.find('&'));
    query.remove_prefix(std::min(query.size(), pair.size() + 1));
    std::size_t eq = pair.find('=');
    std::string value;
    std::string_view raw = eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1);
    for (std::size_t i = 0; i < raw.size(); ++i) {
      unsigned byte = 0;
      if (raw[i] == '%' && i + 2 < raw.size() &&
          std::from_chars(raw.data() + i + 1, raw.data() + i + 3, byte, 16).ptr ==
              raw.data() + i + 3) {
        value += static_cast<char>(byte);
        i += 2;
      } else {
        value += raw[i];
      }
    }
    values[std::string(pair.substr(0, eq))] = std::move(value);
  }
  return values;
}

std::optional<std::size_t> wholeNumber(std::string_view text) {
  std::size_t value = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

using Params = std::map<std::string, std::string, std::less<>>;

bool numberParam(const Params& q, const char* name, std::size_t& value) {
  auto it = q.find(name);
  if (it == q.end()) return false;
  auto parsed = wholeNumber(it->second);
  value = parsed.value_or(0);
  return parsed.has_value();
}

FetchReply jsonReply(int status, std::string body) {
  return FetchReply{status, "application/json", std::move(body)};
}

FetchReply badRequest(const char* why) {
  std::string body = "{\"error\":";
  appendJsonString(body, why);
  body += '}';
  return jsonReply(400, std::move(body));
}

// The x of each row for the chart's reduction: the x column's numbers, or the row's place.
std::vector<double> xsOf(const HeldAnswer& answer, std::size_t x) {
  std::vector<double> xs(answer.rows);
  const bool numeric = answer.columns[x].numeric;
  for (std::size_t r = 0; r < answer.rows; ++r) {
    xs[r] = numeric ? answer.number(r, x) : static_cast<double>(r);
  }
  return xs;
}

FetchReply pointsReply(const HeldAnswer& answer, const Params& q) {
  std::size_t x = 0;
  std::size_t most = 0;
  if (!numberParam(q, "x", x) || x >= answer.columns.size() || !numberParam(q, "max", most) ||
      !q.count("y")) {
    return badRequest("points need x, y and max");
  }
  std::vector<std::size_t> which{x};
  std::string_view ys = q.at("y");
  while (!ys.empty()) {
    std::string_view one = ys.substr(0, ys.find(','));
    ys.remove_prefix(std::min(ys.size(), one.size() + 1));
    auto y = wholeNumber(one);
    if (!y || *y >= answer.columns.size()) return badRequest("no such column");
    which.push_back(*y);
  }
  if (which.size() < 2) return badRequest("points need x, y and max");
  const std::size_t perSeries = std::clamp(most, kFewestPoints, kMostPoints);
  const std::vector<double> xs = xsOf(answer, x);
  std::vector<char> kept(answer.rows, 0);
  std::vector<double> ysOf(answer.rows);
  for (std::size_t i = 1; i < which.size(); ++i) {
    for (std::size_t r = 0; r < answer.rows; ++r) ysOf[r] = answer.number(r, which[i]);
    for (std::size_t r : reducedPoints(xs, ysOf, perSeries)) kept[r] = 1;
  }
  std::vector<std::size_t> rowList;
  for (std::size_t r = 0; r < answer.rows; ++r) {
    if (kept[r]) rowList.push_back(r);
  }
  std::string body = "{\"columns\":[";
  for (std::size_t i = 0; i < which.size(); ++i) {
    if (i) body += ',';
    appendJsonString(body, answer.columns[which[i]].name);
  }
  body += "],\"numericCols\":[";
  for (std::size_t i = 0; i < which.size(); ++i) {
    if (i) body += ',';
    body += answer.columns[which[i]].numeric ? "true" : "false";
  }
  body += "],";
  answer.appendRowsAt(body, rowList, which);
  body.back() = ',';
  body += "\"rowCount\":";
  appendJsonInteger(body, answer.rows);
  body += ",\"shown\":";
  appendJsonInteger(body, rowList.size());
  body += '}';
  return jsonReply(200, std::move(body));
}

}  // namespace

HeldArena& HeldArena::operator=(HeldArena&& other) noexcept {
  if (this != &other) {
    release();
    blocks_ = std::move(other.blocks_);
    other.blocks_.clear();
  }
  return *this;
}

HeldArena::~HeldArena() {
  release();
}

void HeldArena::release() {
  for (const Block& b : blocks_) ::munmap(b.data, b.size);
  blocks_.clear();
}

char* HeldArena::take(std::size_t size) {
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < size) {
    // Each block twice the last, so an answer of any size takes few of them.
    std::size_t want =
        blocks_.empty() ? kFirstBlock : std::min(blocks_.back().size * 2, kLargestBlock);
    want = std::max(want, size);
    void* data = ::mmap(nullptr, want, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data == MAP_FAILED) return nullptr;
    if (want >= kHugeBlock) ::madvise(data, want, MADV_HUGEPAGE);
    blocks_.push_back(Block{static_cast<char*>(data), want, 0});
  }
  Block& b = blocks_.back();
  char* at = b.data + b.used;
  b.used += size;
  return at;
}

std::size_t HeldArena::bytes() const {
  std::size_t total = 0;
  for (const Block& b : blocks_) total += b.used;
  return total;
}

HeldAnswer::Cell HeldAnswer::cell(std::size_t row, std::size_t column) const {
  // The chunk holding the row: the last whose first row is not past it.
  auto it = std::upper_bound(chunks.begin(), chunks.end(), row,
                             [](std::size_t r, const HeldChunk& c) { return r < c.firstRow; });
  const HeldChunk& chunk = *std::prev(it);
  const std::size_t i = row - chunk.firstRow;
  const HeldChunk::Column& at = chunk.columns[column];
  Cell cell;
  cell.kind = columns[column].kind;
  cell.null = chunk.raw[at.validAt + i] == 0;
  if (cell.null) return cell;
  const char* value = chunk.raw + at.valuesAt + i * sizeof(std::int64_t);
  switch (cell.kind) {
    case Kind::Int:
      std::memcpy(&cell.i, value, sizeof cell.i);
      break;
    case Kind::Unsigned:
      std::memcpy(&cell.u, value, sizeof cell.u);
      break;
    case Kind::Double:
      std::memcpy(&cell.d, value, sizeof cell.d);
      break;
    case Kind::Text: {
      std::uint32_t length = 0;
      const char* text = chunk.raw + at.textAt[i];
      std::memcpy(&length, text - sizeof length, sizeof length);
      cell.text = std::string_view(text, length);
      break;
    }
    default: {
      std::size_t begin = i == 0 ? 0 : at.ends[i - 1];
      cell.text = std::string_view(at.text).substr(begin, at.ends[i] - begin);
      if (cell.kind == Kind::NumberText) cell.d = at.doubles[i];
    }
  }
  return cell;
}

std::size_t HeldAnswer::bytes() const {
  std::size_t total = sizeof *this + chunks.capacity() * sizeof(HeldChunk) + arena.bytes();
  for (const auto& chunk : chunks) {
    for (const auto& c : chunk.columns) {
      total += sizeof c + c.textAt.capacity() * sizeof(std::uint32_t) + c.text.capacity() +
               c.ends.capacity() * sizeof(std::uint32_t) + c.doubles.capacity() * sizeof(double);
    }
  }
  return total;
}

namespace {

// The cell's text as the query result shows it.
void appendCellText(std::string& out, const HeldAnswer::Cell& cell) {
  switch (cell.kind) {
    case Kind::Int:
      appendJsonInteger(out, cell.i);
      break;
    case Kind::Unsigned:
      appendJsonInteger(out, cell.u);
      break;
    case Kind::Double:
      appendDoubleText(out, cell.d);
      break;
    default:
      out.append(cell.text);
  }
}

}  // namespace

void HeldAnswer::appendCell(std::string& out, std::size_t row, std::size_t column) const {
  const Cell c = cell(row, column);
  if (c.null) {
    out += "\"\"";
  } else if (c.kind == Kind::Int || c.kind == Kind::Unsigned || c.kind == Kind::Double) {
    out += '"';
    appendCellText(out, c);
    out += '"';
  } else {
    appendJsonString(out, c.text);
  }
}

double HeldAnswer::number(std::size_t row, std::size_t column) const {
  const Cell c = cell(row, column);
  if (c.null) return std::nan("");
  switch (c.kind) {
    case Kind::Int:
      return static_cast<double>(c.i);
    case Kind::Unsigned:
      return static_cast<double>(c.u);
    case Kind::Double:
    case Kind::NumberText:
      return c.d;
    default: {
      const char* first = c.text.data();
      const char* last = first + c.text.size();
      double value = 0;
      auto r = std::from_chars(first, last, value);
      return r.ec == std::errc() && r.ptr == last && first != last ? value : std::nan("");
    }
  }
}

void HeldAnswer::appendRowsAt(std::string& out, const std::vector<std::size_t>& rowList,
                              const std::vector<std::size_t>& which) const {
  std::string nulls;
  out += "\"rows\":[";
  for (std::size_t i = 0; i < rowList.size(); ++i) {
    if (i) out += ',';
    out += '[';
    for (std::size_t k = 0; k < which.size(); ++k) {
      if (k) out += ',';
      appendCell(out, rowList[i], which[k]);
      if (isNull(rowList[i], which[k])) {
        nulls += nulls.empty() ? "[" : ",[";
        appendJsonInteger(nulls, i);
        nulls += ',';
        appendJsonInteger(nulls, k);
        nulls += ']';
      }
    }
    out += ']';
  }
  out += "],\"nulls\":[";
  out += nulls;
  out += "]}";
}

void HeldAnswer::appendRows(std::string& out, std::size_t from, std::size_t count, bool nullsAlways,
                            const std::vector<std::size_t>& which) const {
  std::vector<std::size_t> all = which;
  if (all.empty()) {
    for (std::size_t c = 0; c < columns.size(); ++c) all.push_back(c);
  }
  std::vector<std::size_t> rowList;
  for (std::size_t r = from; r < rows && r - from < count; ++r) rowList.push_back(r);
  std::size_t start = out.size();
  out += '{';
  appendRowsAt(out, rowList, all);
  constexpr std::string_view kNoNulls = ",\"nulls\":[]}";
  if (!nullsAlways && std::string_view(out).substr(start).ends_with(kNoNulls)) {
    out.resize(out.size() - kNoNulls.size());
    out += '}';
  }
}

std::string HeldAnswer::csv() const {
  std::string out;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c) out += ',';
    appendCsvField(out, columns[c].name);
  }
  out += '\n';
  std::string text;
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c) out += ',';
      const Cell one = cell(r, c);
      if (one.null) continue;
      text.clear();
      appendCellText(text, one);
      appendCsvField(out, text);
    }
    out += '\n';
  }
  return out;
}

HeldParser::HeldParser(std::size_t room) : room_(room) {}

bool HeldParser::feed(std::string_view piece) {
  if (bad_ || tooLarge_) return false;
  if (ended_) return bad_ = !piece.empty(), !bad_;
  // Taken chunks are dropped once they are most of what is kept.
  if (used_ > kDropTaken && used_ * 2 > pending_.size()) {
    pending_.erase(0, used_);
    used_ = 0;
  }
  pending_.append(piece);
  if (!header_) {
    std::size_t end = pending_.find('\n');
    if (end == std::string::npos) return true;
    if (!readHeader(std::string_view(pending_).substr(0, end))) return bad_ = true, false;
    used_ = end + 1;
    header_ = true;
  }
  while (!ended_) {
    std::string_view rest = std::string_view(pending_).substr(used_);
    std::uint32_t rows = 0;
    std::uint64_t length = 0;
    if (rest.size() < sizeof rows) break;
    std::memcpy(&rows, rest.data(), sizeof rows);
    if (rows == 0) {
      ended_ = true;
      used_ += sizeof rows;
      if (used_ != pending_.size()) return bad_ = true, false;
      break;
    }
    if (rest.size() < sizeof rows + sizeof length) break;
    std::memcpy(&length, rest.data() + sizeof rows, sizeof length);
    if (length > rest.size() - sizeof rows - sizeof length) {
      // Not here yet; an answer past the room ends here rather than after it has all come.
      if (bytes_ + length > room_) return tooLarge_ = true, false;
      break;
    }
    HeldChunk chunk;
    char* raw = answer_.arena.take(length);
    if (raw == nullptr) return tooLarge_ = true, false;
    std::memcpy(raw, rest.data() + sizeof rows + sizeof length, length);
    chunk.raw = raw;
    chunk.firstRow = answer_.rows;
    chunk.rows = rows;
    chunk.columns.resize(answer_.columns.size());
    Reader in(std::string_view(raw, length));
    for (std::size_t c = 0; c < answer_.columns.size(); ++c) {
      if (!indexChunkColumn(in, raw, answer_.columns[c], chunk.columns[c], rows,
                            answer_.rows == 0)) {
        return bad_ = true, false;
      }
    }
    if (!in.empty()) return bad_ = true, false;
    answer_.chunks.push_back(std::move(chunk));
    answer_.rows += rows;
    bytes_ += length;
    used_ += sizeof rows + sizeof length + length;
    if (bytes_ > room_) return tooLarge_ = true, false;
  }
  return true;
}

bool HeldParser::readHeader(std::string_view line) {
  auto header = nlohmann::json::parse(line, nullptr, false);
  if (!header.is_object() || !header.contains("columns") || !header["columns"].is_array()) {
    return false;
  }
  for (const auto& c : header["columns"]) {
    if (!c.is_object() || !c.value("name", nlohmann::json()).is_string()) return false;
    HeldColumn column;
    column.name = c["name"].get<std::string>();
    column.type = c.value("type", std::string());
    column.numeric = c.value("numeric", false);
    answer_.columns.push_back(std::move(column));
  }
  return true;
}

std::optional<HeldAnswer> HeldParser::finish() {
  if (bad_ || tooLarge_) return std::nullopt;
  if (!header_) {
    if (!pending_.empty()) return std::nullopt;
    return HeldAnswer{};  // the last statement answered no table
  }
  if (!ended_) return std::nullopt;
  return std::move(answer_);
}

std::optional<HeldAnswer> heldAnswerFromOutput(std::string_view output) {
  HeldParser parser;
  if (!parser.feed(output)) return std::nullopt;
  return parser.finish();
}

std::vector<std::size_t> reducedPoints(const std::vector<double>& xs, const std::vector<double>& ys,
                                       std::size_t most) {
  std::vector<std::size_t> points;
  for (std::size_t r = 0; r < xs.size() && r < ys.size(); ++r) {
    if (!std::isnan(xs[r]) && !std::isnan(ys[r])) points.push_back(r);
  }
  most = std::max(most, kFewestPoints);
  if (points.size() <= most) return points;
  std::vector<std::size_t> kept{points.front()};
  const double every = static_cast<double>(points.size() - 2) / static_cast<double>(most - 2);
  std::size_t a = points.front();
  for (std::size_t b = 0; b + 2 < most; ++b) {
    auto begin = static_cast<std::size_t>(std::floor(b * every)) + 1;
    auto end = static_cast<std::size_t>(std::floor((b + 1) * every)) + 1;
    auto nextEnd =
        std::min(static_cast<std::size_t>(std::floor((b + 2) * every)) + 1, points.size());
    // The next bucket's mean (the last point for the last bucket).
    double mx = 0, my = 0;
    std::size_t n = 0;
    for (std::size_t i = end; i < nextEnd; ++i, ++n) {
      mx += xs[points[i]];
      my += ys[points[i]];
    }
    if (n == 0) {
      mx = xs[points.back()];
      my = ys[points.back()];
    } else {
      mx /= static_cast<double>(n);
      my /= static_cast<double>(n);
    }
    double best = -1;
    std::size_t chosen = points[begin];
    for (std::size_t i = begin; i < end && i < points.size(); ++i) {
      std::size_t r = points[i];
      double area = std::fabs((xs[a] - mx) * (ys[r] - ys[a]) - (xs[a] - xs[r]) * (my - ys[a]));
      if (area > best) {
        best = area;
        chosen = r;
      }
    }
    kept.push_back(chosen);
    a = chosen;
  }
  kept.push_back(points.back());
  return kept;
}

std::size_t heldCapBytes() {
  const char* mb = std::getenv("PLINTHOS_HELD_CAP_MB");
  if (mb != nullptr) {
    if (auto value = wholeNumber(mb); value && *value > 0) return *value * kMb;
  }
  return kDefaultCapMb * kMb;
}

Result<JsonText> holdQuery(const std::string& sql, const std::string& place,
                           const ServiceEnv& env) {
  const auto [ticket, room] = Registry::get().start(place);
  std::string folder = workingFolder(env.exePath);
  // Read as it comes: the chunks are taken while the engine works on the next ones.
  HeldParser parser(room);
  auto ran =
      runEngine(folder, env.duckdbPath, expandAllSourceFolders(folder, sql), kHoldJob.scriptPrefix,
                kHoldJob.mode, [&parser](std::string_view piece) { return parser.feed(piece); });
  auto* run = std::get_if<EngineRun>(&ran);
  if (!run) return passOn<JsonText>(std::move(ran));
  if (parser.tooLarge()) return Failure{tooLarge()};
  if (run->exitCode != 0 && run->errors.empty() && run->signal != 0) {
    return Failure{messages::kEngineKilled};
  }
  if (run->exitCode != 0) return Failure{run->errors.empty() ? kHoldJob.emptyMessage : run->errors};
  auto parsed = parser.finish();
  if (!parsed) return Failure{kUnreadableLayout};
  auto answer = std::make_shared<const HeldAnswer>(std::move(*parsed));
  std::string reply = "{\"answer\":";
  std::string id;
  if (!answer->columns.empty()) {
    switch (Registry::get().hold(place, ticket, answer, id)) {
      case Registry::Held::Ok:
        break;
      case Registry::Held::TooLarge:
        return Failure{tooLarge()};
      case Registry::Held::Superseded:
        // The page has run the place again since: this answer is no longer asked for.
        return Cancelled{};
    }
  }
  appendJsonString(reply, id);
  reply += ",\"columns\":[";
  for (std::size_t c = 0; c < answer->columns.size(); ++c) {
    if (c) reply += ',';
    appendJsonString(reply, answer->columns[c].name);
  }
  reply += "],\"types\":[";
  for (std::size_t c = 0; c < answer->columns.size(); ++c) {
    if (c) reply += ',';
    appendJsonString(reply, answer->columns[c].type);
  }
  reply += "],\"numericCols\":[";
  for (std::size_t c = 0; c < answer->columns.size(); ++c) {
    if (c) reply += ',';
    reply += answer->columns[c].numeric ? "true" : "false";
  }
  reply += "],\"rowCount\":";
  appendJsonInteger(reply, answer->rows);
  std::string first;
  answer->appendRows(first, 0, kFirstRows, false);
  reply += ',';
  reply.append(first, 1);  // "rows" and "nulls" without the braces' first
  reply.pop_back();
  auto unreadable = unreadableFolderParts(folder, sql);
  if (!unreadable.empty()) {
    reply += ",\"unreadable\":[";
    for (std::size_t i = 0; i < unreadable.size(); ++i) {
      if (i != 0) reply += ',';
      appendJsonString(reply, unreadable[i]);
    }
    reply += ']';
  }
  reply += '}';
  return JsonText{std::move(reply)};
}

FetchReply fetchHeld(std::string_view path) {
  std::size_t slash = path.find('/');
  if (slash == std::string_view::npos) return jsonReply(404, "{\"error\":\"No such answer\"}");
  std::string id(path.substr(0, slash));
  std::string_view rest = path.substr(slash + 1);
  std::size_t mark = rest.find('?');
  std::string_view what = rest.substr(0, mark);
  auto q = queryOf(mark == std::string_view::npos ? std::string_view() : rest.substr(mark + 1));
  auto answer = findHeld(id);
  if (!answer) return jsonReply(404, "{\"error\":\"No such answer\"}");
  auto number = [&q](const char* name) -> std::optional<std::size_t> {
    auto it = q.find(name);
    return it == q.end() ? std::nullopt : wholeNumber(it->second);
  };
  if (what == "rows") {
    auto from = number("from");
    auto count = number("count");
    if (!from || !count) return badRequest("rows need from and count");
    std::string body;
    answer->appendRows(body, *from, std::min(*count, kMostRowsPerFetch), true);
    return jsonReply(200, std::move(body));
  }
  if (what == "column" || what == "texts") {
    auto c = number("c");
    if (!c || *c >= answer->columns.size()) return badRequest("no such column");
    if (what == "column") {
      const std::size_t n = answer->rows;
      std::string body(n * (sizeof(double) + 1), '\0');
      for (std::size_t r = 0; r < n; ++r) {
        double v = answer->number(r, *c);
        std::memcpy(body.data() + r * sizeof v, &v, sizeof v);
        body[n * sizeof v + r] = answer->isNull(r, *c) ? 1 : 0;
      }
      return FetchReply{200, "application/octet-stream", std::move(body)};
    }
    auto from = number("from").value_or(0);
    auto count = std::min(number("count").value_or(kMostTextsPerFetch), kMostTextsPerFetch);
    std::string body = "[";
    for (std::size_t r = from; r < answer->rows && r - from < count; ++r) {
      if (r != from) body += ',';
      if (answer->isNull(r, *c)) {
        body += "null";
      } else {
        answer->appendCell(body, r, *c);
      }
    }
    body += ']';
    return jsonReply(200, std::move(body));
  }
  if (what == "points") return pointsReply(*answer, q);
  return jsonReply(404, "{\"error\":\"No such answer\"}");
}

std::shared_ptr<const HeldAnswer> findHeld(const std::string& id) {
  return Registry::get().find(id);
}

void freeHeld(const std::string& id) {
  Registry::get().free(id);
}

void freeAllHeld() {
  Registry::get().freeAll();
}

std::pair<std::size_t, std::size_t> heldUsage() {
  return Registry::get().usage();
}

}  // namespace plinthos
