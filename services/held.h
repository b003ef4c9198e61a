#pragma once
// Answers held on the native side: a run of a page place keeps its whole answer here under an id
// nobody can guess, and the page fetches the rows in sight, a chart's columns or its reduced
// points by path (the window's URI scheme and the dev server's HTTP paths both answer through
// fetchHeld). An answer is freed by a new run of its place, by the page, when the page goes, and
// after a while unused; together they never pass a cap.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/held_layout.h"
#include "services/engine_runner.h"
#include "services/json_text.h"

namespace plinthos {

// One column of a held answer.
struct HeldColumn {
  std::string name;
  std::string type;  // the engine's type name
  bool numeric = false;
  held::Kind kind = held::Kind::Text;
};

// The memory of one held answer, taken in large blocks: far fewer page faults than one allocation
// per chunk, and huge pages where the system grants them. Blocks never move, so what points into
// them stays valid when the answer is moved.
class HeldArena {
 public:
  HeldArena() = default;
  HeldArena(HeldArena&& other) noexcept : blocks_(std::move(other.blocks_)) {
    other.blocks_.clear();
  }
  HeldArena& operator=(HeldArena&& other) noexcept;
  HeldArena(const HeldArena&) = delete;
  HeldArena& operator=(const HeldArena&) = delete;
  ~HeldArena();

  // `size` bytes of its own; nullptr when the system has no more.
  char* take(std::size_t size);
  std::size_t bytes() const;

 private:
  struct Block {
    char* data;
    std::size_t size;
    std::size_t used;
  };
  void release();
  std::vector<Block> blocks_;
};

// One chunk of a held answer kept as the engine wrote it, with where each column's cells are:
// nothing is copied cell by cell, so holding costs little more than receiving.
struct HeldChunk {
  struct Column {
    std::size_t valuesAt = 0;           // fixed-width kinds: the first value in raw
    std::size_t validAt = 0;            // the validity bytes in raw, 1 for a value, 0 for NULL
    std::vector<std::uint32_t> textAt;  // Text: where each cell's bytes start in raw
    // NumberText and Json: the cells as the query result shows them, and NumberText's values.
    std::string text;
    std::vector<std::uint32_t> ends;
    std::vector<double> doubles;
  };
  const char* raw = nullptr;  // in the answer's arena
  std::size_t firstRow = 0;
  std::size_t rows = 0;
  std::vector<Column> columns;
};

class HeldAnswer {
 public:
  std::vector<HeldColumn> columns;
  std::vector<HeldChunk> chunks;
  std::size_t rows = 0;
  HeldArena arena;

  // One cell: its kind's value (i, u or d) or text; `null` for NULL.
  struct Cell {
    held::Kind kind = held::Kind::Text;
    bool null = true;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    double d = 0;
    std::string_view text;
  };
  Cell cell(std::size_t row, std::size_t column) const;

  // The memory the answer takes, near enough for the cap.
  std::size_t bytes() const;
  bool isNull(std::size_t row, std::size_t column) const { return cell(row, column).null; }
  // The cell as a JSON string, as the query result writes it ("" for NULL).
  void appendCell(std::string& out, std::size_t row, std::size_t column) const;
  // The cell's number; NaN for NULL and for a text that is not one.
  double number(std::size_t row, std::size_t column) const;

  // {"rows":[...],"nulls":[[r,c]...]} for rows [from, from + count) of `columns` (all when
  // empty), `r` counted from `from`. With `nullsAlways` false, "nulls" only when there are some.
  void appendRows(std::string& out, std::size_t from, std::size_t count, bool nullsAlways,
                  const std::vector<std::size_t>& which = {}) const;
  void appendRowsAt(std::string& out, const std::vector<std::size_t>& rowList,
                    const std::vector<std::size_t>& which) const;
  // The whole answer as CSV: header, commas, quotes only where needed (an empty text quoted
  // apart from NULL, which is an empty field), a line feed after each line.
  std::string csv() const;
};

// Reads the engine's held layout as it arrives, taking each chunk whole once it is all there.
class HeldParser {
 public:
  explicit HeldParser(std::size_t room = SIZE_MAX);
  // False once the bytes are not the layout, or the answer outgrew `room` (tooLarge).
  bool feed(std::string_view piece);
  bool tooLarge() const { return tooLarge_; }
  // The answer once its end has been read; nullopt otherwise. No output at all (the last
  // statement answered no table) is an answer without columns.
  std::optional<HeldAnswer> finish();

 private:
  bool readHeader(std::string_view line);

  std::size_t room_;
  std::string pending_;
  std::size_t used_ = 0;  // bytes of pending_ already taken
  std::size_t bytes_ = 0;
  bool header_ = false, ended_ = false, bad_ = false, tooLarge_ = false;
  HeldAnswer answer_;
};

// The answer in the engine's held layout; nullopt when the output is not one.
std::optional<HeldAnswer> heldAnswerFromOutput(std::string_view output);

// The rows largest-triangle-three-buckets keeps of the points (xs[i], ys[i]) in order, at most
// `most` (at least 3), first and last included; rows where either is NaN are skipped.
std::vector<std::size_t> reducedPoints(const std::vector<double>& xs, const std::vector<double>& ys,
                                       std::size_t most);

// The cap on all held answers together: PLINTHOS_HELD_CAP_MB, else 2 GB.
std::size_t heldCapBytes();

// Runs `sql` as the query service does and holds the last statement's answer for `place`,
// freeing what the place held first: {"answer", "columns", "types", "numericCols", "rowCount",
// "rows" (the first rows), "nulls"?, "unreadable"?}. Failures as the query service's, and an
// answer past the cap. Cancelled when stopped, with nothing held.
Result<JsonText> holdQuery(const std::string& sql, const std::string& place, const ServiceEnv& env);

struct FetchReply {
  int status = 200;
  std::string contentType;
  std::string body;
};

// Answers one fetch of a held answer; `path` is what follows the base, e.g.
// "0123…ef/rows?from=0&count=200". Never touches a file path.
FetchReply fetchHeld(std::string_view path);

// The held answer `id`, or nothing when it is not held (its use counts as a use).
std::shared_ptr<const HeldAnswer> findHeld(const std::string& id);
void freeHeld(const std::string& id);
// The page went: every held answer is freed.
void freeAllHeld();
// How many answers are held and their bytes (for tests and benchmarks).
std::pair<std::size_t, std::size_t> heldUsage();

}  // namespace plinthos
