#include "engine/column.h"

#include <cstring>

#include "common/held_layout.h"
#include "engine/format.h"

namespace plinthos::engine {

namespace {

std::string takeText(char* text) {
  std::string result = text != nullptr ? text : "";
  duckdb_free(text);
  return result;
}

std::string jsonText(const std::string& text) {
  Sink sink;
  writeJsonString(sink, text.data(), text.size());
  return std::string(sink.view());
}

// The bytes of a string or blob cell without calling into the library per value.
inline void stringBytes(const duckdb_string_t& s, const char*& data, std::size_t& size) {
  size = s.value.inlined.length;
  data = size <= sizeof s.value.inlined.inlined ? s.value.inlined.inlined : s.value.pointer.ptr;
}

Int128 toInt128(const duckdb_hugeint& h) {
  return static_cast<Int128>((static_cast<UInt128>(static_cast<uint64_t>(h.upper)) << 64) |
                             h.lower);
}

UInt128 toUInt128(const duckdb_uhugeint& h) {
  return (static_cast<UInt128>(h.upper) << 64) | h.lower;
}

// The internal big-number layout: three header bytes (top bit set for non-negative values,
// the rest the byte count), then the magnitude big-endian, every byte inverted when negative.
duckdb_value bignumValue(const char* data, std::size_t size, std::vector<uint8_t>& bytes) {
  constexpr std::size_t kHeader = 3;
  if (size < kHeader) return nullptr;
  bool negative = (static_cast<unsigned char>(data[0]) & 0x80) == 0;
  bytes.assign(data + kHeader, data + size);
  if (negative) {
    for (auto& b : bytes) b = static_cast<uint8_t>(~b);
  }
  duckdb_bignum number{bytes.data(), bytes.size(), negative};
  return duckdb_create_bignum(number);
}

}  // namespace

Column::Column(duckdb_logical_type type) : type_(duckdb_get_type_id(type)) {
  switch (type_) {
    case DUCKDB_TYPE_DECIMAL:
      internal_ = duckdb_decimal_internal_type(type);
      scale_ = duckdb_decimal_scale(type);
      break;
    case DUCKDB_TYPE_ENUM: {
      internal_ = duckdb_enum_internal_type(type);
      uint32_t count = duckdb_enum_dictionary_size(type);
      for (uint32_t i = 0; i < count; ++i) {
        enumText_.push_back(takeText(duckdb_enum_dictionary_value(type, i)));
        enumJson_.push_back(jsonText(enumText_.back()));
      }
      break;
    }
    case DUCKDB_TYPE_LIST: {
      duckdb_logical_type child = duckdb_list_type_child_type(type);
      children_.push_back(std::make_unique<Column>(child));
      duckdb_destroy_logical_type(&child);
      break;
    }
    case DUCKDB_TYPE_ARRAY: {
      duckdb_logical_type child = duckdb_array_type_child_type(type);
      arraySize_ = duckdb_array_type_array_size(type);
      children_.push_back(std::make_unique<Column>(child));
      duckdb_destroy_logical_type(&child);
      break;
    }
    case DUCKDB_TYPE_MAP: {
      duckdb_logical_type key = duckdb_map_type_key_type(type);
      duckdb_logical_type value = duckdb_map_type_value_type(type);
      children_.push_back(std::make_unique<Column>(key));
      children_.push_back(std::make_unique<Column>(value));
      duckdb_destroy_logical_type(&key);
      duckdb_destroy_logical_type(&value);
      scratch_ = std::make_unique<Sink>();
      break;
    }
    case DUCKDB_TYPE_STRUCT: {
      idx_t count = duckdb_struct_type_child_count(type);
      for (idx_t i = 0; i < count; ++i) {
        duckdb_logical_type child = duckdb_struct_type_child_type(type, i);
        children_.push_back(std::make_unique<Column>(child));
        duckdb_destroy_logical_type(&child);
        childNames_.push_back(takeText(duckdb_struct_type_child_name(type, i)));
        childKeys_.push_back(jsonText(childNames_.back()) + ":");
      }
      break;
    }
    case DUCKDB_TYPE_UNION: {
      // Stored as a struct whose first child is the tag; member i is child i + 1.
      duckdb_logical_type tag = duckdb_create_logical_type(DUCKDB_TYPE_UTINYINT);
      children_.push_back(std::make_unique<Column>(tag));
      duckdb_destroy_logical_type(&tag);
      idx_t count = duckdb_union_type_member_count(type);
      for (idx_t i = 0; i < count; ++i) {
        duckdb_logical_type member = duckdb_union_type_member_type(type, i);
        children_.push_back(std::make_unique<Column>(member));
        duckdb_destroy_logical_type(&member);
      }
      break;
    }
    default:
      break;
  }
}

Column::~Column() = default;

bool Column::supported() const {
  if (type_ == DUCKDB_TYPE_INVALID || type_ == DUCKDB_TYPE_ANY) return false;
  for (const auto& child : children_) {
    if (!child->supported()) return false;
  }
  return true;
}

void Column::bind(duckdb_vector vector) {
  data_ = duckdb_vector_get_data(vector);
  validity_ = duckdb_vector_get_validity(vector);
  switch (type_) {
    case DUCKDB_TYPE_LIST:
      children_[0]->bind(duckdb_list_vector_get_child(vector));
      break;
    case DUCKDB_TYPE_ARRAY:
      children_[0]->bind(duckdb_array_vector_get_child(vector));
      break;
    case DUCKDB_TYPE_MAP: {
      duckdb_vector entries = duckdb_list_vector_get_child(vector);
      children_[0]->bind(duckdb_struct_vector_get_child(entries, 0));
      children_[1]->bind(duckdb_struct_vector_get_child(entries, 1));
      break;
    }
    case DUCKDB_TYPE_STRUCT:
    case DUCKDB_TYPE_UNION:
      for (idx_t i = 0; i < children_.size(); ++i) {
        children_[i]->bind(duckdb_struct_vector_get_child(vector, i));
      }
      break;
    default:
      break;
  }
}

bool Column::numeric() const {
  switch (type_) {
    case DUCKDB_TYPE_TINYINT:
    case DUCKDB_TYPE_SMALLINT:
    case DUCKDB_TYPE_INTEGER:
    case DUCKDB_TYPE_BIGINT:
    case DUCKDB_TYPE_UTINYINT:
    case DUCKDB_TYPE_USMALLINT:
    case DUCKDB_TYPE_UINTEGER:
    case DUCKDB_TYPE_UBIGINT:
    case DUCKDB_TYPE_HUGEINT:
    case DUCKDB_TYPE_UHUGEINT:
    case DUCKDB_TYPE_DECIMAL:
    case DUCKDB_TYPE_FLOAT:
    case DUCKDB_TYPE_DOUBLE:
      return true;
    default:
      return false;
  }
}

void Column::writeNumber(Sink& out, idx_t row, bool json) const {
  switch (type_) {
    case DUCKDB_TYPE_TINYINT:
      writeSigned(out, at<int8_t>(row));
      break;
    case DUCKDB_TYPE_SMALLINT:
      writeSigned(out, at<int16_t>(row));
      break;
    case DUCKDB_TYPE_INTEGER:
      writeSigned(out, at<int32_t>(row));
      break;
    case DUCKDB_TYPE_BIGINT:
      writeSigned(out, at<int64_t>(row));
      break;
    case DUCKDB_TYPE_UTINYINT:
      writeUnsigned(out, at<uint8_t>(row));
      break;
    case DUCKDB_TYPE_USMALLINT:
      writeUnsigned(out, at<uint16_t>(row));
      break;
    case DUCKDB_TYPE_UINTEGER:
      writeUnsigned(out, at<uint32_t>(row));
      break;
    case DUCKDB_TYPE_UBIGINT:
      writeUnsigned(out, at<uint64_t>(row));
      break;
    case DUCKDB_TYPE_HUGEINT:
      writeInt128(out, toInt128(at<duckdb_hugeint>(row)));
      break;
    case DUCKDB_TYPE_UHUGEINT:
      writeUInt128(out, toUInt128(at<duckdb_uhugeint>(row)));
      break;
    case DUCKDB_TYPE_FLOAT:
      writeFloat(out, at<float>(row), json);
      break;
    case DUCKDB_TYPE_DOUBLE:
      writeDouble(out, at<double>(row), json);
      break;
    case DUCKDB_TYPE_DECIMAL:
      switch (internal_) {
        case DUCKDB_TYPE_SMALLINT:
          writeDecimal(out, at<int16_t>(row), scale_);
          break;
        case DUCKDB_TYPE_INTEGER:
          writeDecimal(out, at<int32_t>(row), scale_);
          break;
        case DUCKDB_TYPE_BIGINT:
          writeDecimal(out, at<int64_t>(row), scale_);
          break;
        default:
          writeDecimal(out, toInt128(at<duckdb_hugeint>(row)), scale_);
          break;
      }
      break;
    default:
      break;
  }
}

// Rare types: let the engine render the value, so the text is exactly its own.
void Column::writeEngineText(Sink& out, idx_t row, bool json) const {
  duckdb_value value = nullptr;
  std::vector<uint8_t> bytes;
  const char* data;
  std::size_t size;
  switch (type_) {
    case DUCKDB_TYPE_DATE:
      value = duckdb_create_date(at<duckdb_date>(row));
      break;
    case DUCKDB_TYPE_TIME:
      value = duckdb_create_time(at<duckdb_time>(row));
      break;
    case DUCKDB_TYPE_TIME_TZ:
      value = duckdb_create_time_tz_value(at<duckdb_time_tz>(row));
      break;
    case DUCKDB_TYPE_TIMESTAMP:
      value = duckdb_create_timestamp(at<duckdb_timestamp>(row));
      break;
    case DUCKDB_TYPE_TIMESTAMP_TZ:
      value = duckdb_create_timestamp_tz(at<duckdb_timestamp>(row));
      break;
    case DUCKDB_TYPE_TIMESTAMP_S:
      value = duckdb_create_timestamp_s(at<duckdb_timestamp_s>(row));
      break;
    case DUCKDB_TYPE_TIMESTAMP_MS:
      value = duckdb_create_timestamp_ms(at<duckdb_timestamp_ms>(row));
      break;
    case DUCKDB_TYPE_TIMESTAMP_NS:
      value = duckdb_create_timestamp_ns(at<duckdb_timestamp_ns>(row));
      break;
    case DUCKDB_TYPE_INTERVAL:
      value = duckdb_create_interval(at<duckdb_interval>(row));
      break;
    case DUCKDB_TYPE_BLOB:
      stringBytes(at<duckdb_string_t>(row), data, size);
      value = duckdb_create_blob(reinterpret_cast<const uint8_t*>(data), size);
      break;
    case DUCKDB_TYPE_BIT: {
      stringBytes(at<duckdb_string_t>(row), data, size);
      bytes.assign(data, data + size);
      value = duckdb_create_bit(duckdb_bit{bytes.data(), bytes.size()});
      break;
    }
    case DUCKDB_TYPE_BIGNUM:
      stringBytes(at<duckdb_string_t>(row), data, size);
      value = bignumValue(data, size, bytes);
      break;
    default:
      break;
  }
  if (value == nullptr) return;
  char* text = duckdb_get_varchar(value);
  if (text != nullptr) writeEscaped(out, text, std::strlen(text), json);
  duckdb_free(text);
  duckdb_destroy_value(&value);
}

void Column::writeScalarText(Sink& out, idx_t row, bool json) const {
  switch (type_) {
    case DUCKDB_TYPE_VARCHAR: {
      const char* data;
      std::size_t size;
      stringBytes(at<duckdb_string_t>(row), data, size);
      writeEscaped(out, data, size, json);
      return;
    }
    case DUCKDB_TYPE_BOOLEAN:
      out.write(at<bool>(row) ? std::string_view("true") : std::string_view("false"));
      return;
    case DUCKDB_TYPE_DATE:
      if (!writeDate(out, at<duckdb_date>(row).days)) writeEngineText(out, row, json);
      return;
    case DUCKDB_TYPE_TIME:
      if (!writeTime(out, at<duckdb_time>(row).micros)) writeEngineText(out, row, json);
      return;
    case DUCKDB_TYPE_TIME_NS:
      // The library renders a TIME_NS value as empty text, so it is done here.
      writeTimeNs(out, at<duckdb_time_ns>(row).nanos);
      return;
    case DUCKDB_TYPE_TIMESTAMP:
      if (!writeTimestamp(out, at<duckdb_timestamp>(row).micros)) writeEngineText(out, row, json);
      return;
    case DUCKDB_TYPE_UUID: {
      const auto& h = at<duckdb_hugeint>(row);
      writeUuid(out, h.lower, h.upper);
      return;
    }
    case DUCKDB_TYPE_ENUM: {
      uint64_t index = internal_ == DUCKDB_TYPE_UTINYINT    ? at<uint8_t>(row)
                       : internal_ == DUCKDB_TYPE_USMALLINT ? at<uint16_t>(row)
                                                            : at<uint32_t>(row);
      if (index < enumText_.size()) {
        const std::string& text = enumText_[index];
        writeEscaped(out, text.data(), text.size(), json);
      }
      return;
    }
    default:
      if (numeric()) {
        writeNumber(out, row, false);
      } else {
        writeEngineText(out, row, json);
      }
  }
}

void Column::writeJson(Sink& out, idx_t row) const {
  if (!valid(row)) {
    out.write("null", 4);
    return;
  }
  switch (type_) {
    case DUCKDB_TYPE_BOOLEAN:
      out.write(at<bool>(row) ? std::string_view("true") : std::string_view("false"));
      return;
    case DUCKDB_TYPE_ENUM: {
      uint64_t index = internal_ == DUCKDB_TYPE_UTINYINT    ? at<uint8_t>(row)
                       : internal_ == DUCKDB_TYPE_USMALLINT ? at<uint16_t>(row)
                                                            : at<uint32_t>(row);
      if (index < enumJson_.size()) {
        out.write(enumJson_[index]);
      } else {
        out.write("null", 4);
      }
      return;
    }
    case DUCKDB_TYPE_SQLNULL:
      out.write("null", 4);
      return;
    case DUCKDB_TYPE_LIST: {
      const auto& entry = at<duckdb_list_entry>(row);
      out.put('[');
      for (uint64_t i = 0; i < entry.length; ++i) {
        if (i > 0) out.put(',');
        children_[0]->writeJson(out, entry.offset + i);
      }
      out.put(']');
      return;
    }
    case DUCKDB_TYPE_ARRAY: {
      out.put('[');
      for (idx_t i = 0; i < arraySize_; ++i) {
        if (i > 0) out.put(',');
        children_[0]->writeJson(out, row * arraySize_ + i);
      }
      out.put(']');
      return;
    }
    case DUCKDB_TYPE_STRUCT: {
      out.put('{');
      for (idx_t i = 0; i < children_.size(); ++i) {
        if (i > 0) out.put(',');
        out.write(childKeys_[i]);
        children_[i]->writeJson(out, row);
      }
      out.put('}');
      return;
    }
    case DUCKDB_TYPE_MAP: {
      const auto& entry = at<duckdb_list_entry>(row);
      out.put('{');
      for (uint64_t i = 0; i < entry.length; ++i) {
        if (i > 0) out.put(',');
        scratch_->clear();
        children_[0]->writeText(*scratch_, entry.offset + i);
        std::string_view key = scratch_->view();
        writeJsonString(out, key.data(), key.size());
        out.put(':');
        children_[1]->writeJson(out, entry.offset + i);
      }
      out.put('}');
      return;
    }
    case DUCKDB_TYPE_UNION: {
      uint8_t tag = children_[0]->at<uint8_t>(row);
      if (tag + 1u < children_.size()) {
        children_[tag + 1u]->writeJson(out, row);
      } else {
        out.write("null", 4);
      }
      return;
    }
    default:
      break;
  }
  if (numeric()) {
    writeNumber(out, row, true);
    return;
  }
  out.put('"');
  writeScalarText(out, row, true);
  out.put('"');
}

void Column::writeNestedText(Sink& out, idx_t row) const {
  switch (type_) {
    case DUCKDB_TYPE_LIST:
    case DUCKDB_TYPE_ARRAY: {
      idx_t first = row * arraySize_, count = arraySize_;
      if (type_ == DUCKDB_TYPE_LIST) {
        const auto& entry = at<duckdb_list_entry>(row);
        first = entry.offset;
        count = entry.length;
      }
      out.put('[');
      for (idx_t i = 0; i < count; ++i) {
        if (i > 0) out.write(", ", 2);
        children_[0]->writeText(out, first + i);
      }
      out.put(']');
      return;
    }
    case DUCKDB_TYPE_STRUCT:
      out.put('{');
      for (idx_t i = 0; i < children_.size(); ++i) {
        if (i > 0) out.write(", ", 2);
        out.put('\'');
        writeUtf8(out, childNames_[i].data(), childNames_[i].size());
        out.write("': ", 3);
        children_[i]->writeText(out, row);
      }
      out.put('}');
      return;
    case DUCKDB_TYPE_MAP: {
      const auto& entry = at<duckdb_list_entry>(row);
      out.put('{');
      for (uint64_t i = 0; i < entry.length; ++i) {
        if (i > 0) out.write(", ", 2);
        children_[0]->writeText(out, entry.offset + i);
        out.put('=');
        children_[1]->writeText(out, entry.offset + i);
      }
      out.put('}');
      return;
    }
    case DUCKDB_TYPE_UNION: {
      uint8_t tag = children_[0]->at<uint8_t>(row);
      if (tag + 1u < children_.size()) children_[tag + 1u]->writeText(out, row);
      return;
    }
    default:
      return;
  }
}

void Column::writeText(Sink& out, idx_t row) const {
  if (!valid(row) || type_ == DUCKDB_TYPE_SQLNULL) {
    out.write("NULL", 4);
    return;
  }
  if (!children_.empty()) {
    writeNestedText(out, row);
    return;
  }
  writeScalarText(out, row, false);
}

uint8_t Column::heldKind() const {
  using plinthos::held::Kind;
  Kind kind = Kind::Text;
  switch (type_) {
    case DUCKDB_TYPE_TINYINT:
    case DUCKDB_TYPE_SMALLINT:
    case DUCKDB_TYPE_INTEGER:
    case DUCKDB_TYPE_BIGINT:
    case DUCKDB_TYPE_UTINYINT:
    case DUCKDB_TYPE_USMALLINT:
    case DUCKDB_TYPE_UINTEGER:
      kind = Kind::Int;
      break;
    case DUCKDB_TYPE_UBIGINT:
      kind = Kind::Unsigned;
      break;
    case DUCKDB_TYPE_DOUBLE:
      kind = Kind::Double;
      break;
    default:
      if (numeric()) {
        kind = Kind::NumberText;
      } else if (!children_.empty()) {
        kind = Kind::Json;
      }
  }
  return static_cast<uint8_t>(kind);
}

namespace {

template <typename T>
void putRaw(Sink& out, T value) {
  char* p = out.reserve(sizeof value);
  std::memcpy(p, &value, sizeof value);
  out.commit(p + sizeof value);
}

}  // namespace

int64_t Column::smallInteger(idx_t row) const {
  switch (type_) {
    case DUCKDB_TYPE_TINYINT:
      return at<int8_t>(row);
    case DUCKDB_TYPE_SMALLINT:
      return at<int16_t>(row);
    case DUCKDB_TYPE_INTEGER:
      return at<int32_t>(row);
    case DUCKDB_TYPE_BIGINT:
      return at<int64_t>(row);
    case DUCKDB_TYPE_UTINYINT:
      return at<uint8_t>(row);
    case DUCKDB_TYPE_USMALLINT:
      return at<uint16_t>(row);
    default:
      return at<uint32_t>(row);
  }
}

void Column::writeHeld(Sink& out, idx_t rows) const {
  using plinthos::held::Kind;
  const auto kind = static_cast<Kind>(heldKind());
  out.put(static_cast<char>(kind));
  for (idx_t row = 0; row < rows; ++row) {
    const bool value = valid(row) && type_ != DUCKDB_TYPE_SQLNULL;
    switch (kind) {
      case Kind::Int:
        putRaw(out, value ? smallInteger(row) : int64_t{0});
        break;
      case Kind::Unsigned:
        putRaw(out, value ? at<uint64_t>(row) : uint64_t{0});
        break;
      case Kind::Double:
        putRaw(out, value ? at<double>(row) : 0.0);
        break;
      default: {
        // The length goes before the text, which is written in place after it.
        const std::size_t lengthAt = out.size();
        putRaw(out, uint32_t{0});
        if (value) {
          if (kind == Kind::NumberText) {
            writeNumber(out, row, false);
          } else if (kind == Kind::Json) {
            writeJson(out, row);
          } else {
            writeScalarText(out, row, false);
          }
        }
        auto length = static_cast<uint32_t>(out.size() - lengthAt - sizeof(uint32_t));
        out.patch(lengthAt, &length, sizeof length);
      }
    }
  }
  char* flags = out.reserve(rows);
  for (idx_t row = 0; row < rows; ++row) {
    flags[row] = valid(row) && type_ != DUCKDB_TYPE_SQLNULL ? 1 : 0;
  }
  out.commit(flags + rows);
}

}  // namespace plinthos::engine
