// The C++ layer's conversion rule: a value is read as another type only when
// that type holds it. Item::as(), DataGroup::read_as() and the Python
// package's reads as a type all convert here.
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "conversion.h"
#include "layer.h"

namespace velfile {

namespace {

bool isInteger(uint16_t t) {
  return t >= VelFile::kTypeInt8 && t <= VelFile::kTypeUInt32;
}
bool isReal(uint16_t t) {
  return t == VelFile::kTypeFloat || t == VelFile::kTypeDouble;
}
bool isWords(uint16_t t) {
  return t == VelFile::kTypeQuad8 || t == VelFile::kTypeQuad9;
}

int64_t integerAt(uint16_t t, const void* src) {
  switch (t) {
    case VelFile::kTypeInt8:
      return load<int8_t>(src);
    case VelFile::kTypeUInt8:
      return load<uint8_t>(src);
    case VelFile::kTypeInt16:
      return load<int16_t>(src);
    case VelFile::kTypeUInt16:
      return load<uint16_t>(src);
    case VelFile::kTypeInt32:
      return load<int32_t>(src);
    default:
      return load<uint32_t>(src);
  }
}

void storeInteger(uint16_t t, void* dst, int64_t v) {
  switch (t) {
    case VelFile::kTypeInt8:
      return store(dst, int8_t(v));
    case VelFile::kTypeUInt8:
      return store(dst, uint8_t(v));
    case VelFile::kTypeInt16:
      return store(dst, int16_t(v));
    case VelFile::kTypeUInt16:
      return store(dst, uint16_t(v));
    case VelFile::kTypeInt32:
      return store(dst, int32_t(v));
    default:
      return store(dst, uint32_t(v));
  }
}

// A real as the shortest decimal that reads back as it (of its stored width).
std::string shown(uint16_t t, const void* src) {
  if (isInteger(t)) return std::to_string(integerAt(t, src));
  char buf[64];
  const auto end = t == VelFile::kTypeFloat ? std::to_chars(buf, buf + sizeof buf, load<float>(src)).ptr
                                            : std::to_chars(buf, buf + sizeof buf, load<double>(src)).ptr;
  return std::string(buf, end);
}

bool refuse(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// Why the rule refuses a value, built only when it does.
enum class Refusal { Range, Inexact, Fraction, Float32Range };

bool refuseValue(std::string* why, Refusal kind, uint16_t to, uint16_t from, const void* src) {
  if (!why) return false;
  const std::string value = "holds " + shown(from, src) + ", which ";
  int64_t low = 0, high = 0;
  switch (kind) {
    case Refusal::Range:
      integer_bounds(to, &low, &high);
      return refuse(why, value + type_name(to) + " cannot hold (" + std::to_string(low) + " to " +
                             std::to_string(high) + ")");
    case Refusal::Inexact:
      return refuse(why, value + "float32 cannot hold exactly (it holds every integer of 24 bits)");
    case Refusal::Fraction:
      return refuse(why, value + "is not an integer: " + type_name(to) + " cannot hold it");
    case Refusal::Float32Range:
      break;
  }
  return refuse(why, value + "lies outside the range of float32 (at most 3.4028235e+38 either way)");
}

}  // namespace

bool integer_bounds(uint16_t t, int64_t* low, int64_t* high) {
  if (!isInteger(t)) return false;
  const unsigned bits = 8u << ((t - VelFile::kTypeInt8) / 2);
  const bool isSigned = (t - VelFile::kTypeInt8) % 2 == 0;
  *low = isSigned ? -(int64_t(1) << (bits - 1)) : 0;
  *high = isSigned ? (int64_t(1) << (bits - 1)) - 1 : (int64_t(1) << bits) - 1;
  return true;
}

bool convert_value(uint16_t to, void* dst, uint16_t from, const void* src, std::string* why) {
  const bool same = to == from && (isInteger(to) || isReal(to) || isWords(to) || to == VelFile::kTypeRaw);
  if (same || (isWords(to) && isWords(from))) {
    std::memcpy(dst, src, size_t(VelFile::file_SizeOf(from)));
    return true;
  }
  if (from == VelFile::kTypeRaw && to == VelFile::kTypeUInt8) {
    std::memcpy(dst, src, 1);
    return true;
  }
  if (!(isInteger(from) || isReal(from)) || !(isInteger(to) || isReal(to)))
    return refuse(why, "is " + type_name(from) + ", which has no conversion to " + type_name(to));
  int64_t low = 0, high = 0;
  integer_bounds(to, &low, &high);
  if (isInteger(from)) {
    const int64_t v = integerAt(from, src);
    if (isInteger(to)) {
      if (v < low || v > high) return refuseValue(why, Refusal::Range, to, from, src);
      storeInteger(to, dst, v);
    } else if (to == VelFile::kTypeFloat) {
      const float f = static_cast<float>(v);
      if (static_cast<double>(f) != static_cast<double>(v))
        return refuseValue(why, Refusal::Inexact, to, from, src);
      store(dst, f);
    } else {
      store(dst, static_cast<double>(v));
    }
    return true;
  }
  const double x = from == VelFile::kTypeFloat ? double(load<float>(src)) : load<double>(src);
  if (isInteger(to)) {
    if (!std::isfinite(x) || std::trunc(x) != x) return refuseValue(why, Refusal::Fraction, to, from, src);
    if (x < double(low) || x > double(high)) return refuseValue(why, Refusal::Range, to, from, src);
    storeInteger(to, dst, static_cast<int64_t>(x));
  } else if (to == VelFile::kTypeDouble) {
    store(dst, x);
  } else {
    if (std::isfinite(x) && std::fabs(x) > double(FLT_MAX))
      return refuseValue(why, Refusal::Float32Range, to, from, src);
    store(dst, static_cast<float>(x));
  }
  return true;
}

namespace {

// Whether T holds v exactly (or, from float64 to float32, within range).
template <class To, class From>
bool holds(From v) {
  if constexpr (std::is_same<To, From>::value || (std::is_floating_point<To>::value && sizeof(To) == 8)) {
    return true;
  } else if constexpr (std::is_integral<From>::value && std::is_integral<To>::value) {
    return int64_t(v) >= int64_t(std::numeric_limits<To>::lowest()) &&
           int64_t(v) <= int64_t(std::numeric_limits<To>::max());
  } else if constexpr (std::is_integral<From>::value) {
    return double(To(v)) == double(v);
  } else if constexpr (std::is_integral<To>::value) {
    return std::isfinite(v) && std::trunc(v) == v && double(v) >= double(std::numeric_limits<To>::lowest()) &&
           double(v) <= double(std::numeric_limits<To>::max());
  } else {
    return !std::isfinite(v) || std::fabs(v) <= double(FLT_MAX);
  }
}

template <class To, class From>
size_t convertRun(To* dst, const From* src, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const From v = load<From>(src + i);
    if (!holds<To>(v)) return i;
    store(dst + i, static_cast<To>(v));
  }
  return count;
}

bool isNumber(uint16_t t) {
  return isInteger(t) || isReal(t);
}

}  // namespace

size_t convert_values(uint16_t to, void* dst, uint16_t from, const void* src, size_t count,
                      std::string* why) {
  size_t done = count;
  if (isNumber(to) && isNumber(from) && to != from) {
    // Elements at any alignment: the run reads and writes them by memcpy.
    done = visit_type(from, [&](auto f) {
      return visit_type(to, [&](auto t) {
        using From = decltype(f);
        using To = decltype(t);
        if constexpr (std::is_arithmetic<From>::value && std::is_arithmetic<To>::value)
          return convertRun(static_cast<To*>(dst), static_cast<const From*>(src), count);
        else
          return size_t(0);
      });
    });
  } else {
    const size_t in = size_t(VelFile::file_SizeOf(from)), out = size_t(VelFile::file_SizeOf(to));
    for (done = 0; done < count; ++done)
      if (!convert_value(to, static_cast<char*>(dst) + done * out, from,
                         static_cast<const char*>(src) + done * in, nullptr))
        break;
  }
  if (done < count) {
    const size_t in = size_t(VelFile::file_SizeOf(from)), out = size_t(VelFile::file_SizeOf(to));
    convert_value(to, static_cast<char*>(dst) + done * out, from, static_cast<const char*>(src) + done * in,
                  why);
  }
  return done;
}

void refuse_conversion(const std::string& why) {
  fail(Reason::WrongType, "convert", Where(), "the value " + why.substr(why.rfind("holds ", 0) == 0 ? 6 : 0));
}

// --- the reads that convert ---

void Item::refuse_count(size_t count) const {
  fail(Reason::Invalid, "Item::as", Where{file_.get(), group_.get(), id_},
       "holds " + std::to_string(count_) + " elements; the buffer has room for " + std::to_string(count));
}

void Item::read_converted(uint16_t requested, void* out, size_t count, bool vector) const {
  const char* op = "Item::as";
  Lock lock(library_mutex());
  const Where where{file_.get(), group_.get(), id_};
  checkOpen(file_.get(), group_.get(), op);
  if (type_ == VelFile::kTypeNarrow || type_ == VelFile::kTypeUtf16)
    fail(Reason::WrongType, op, where,
         "is " + type_name(type_) + " and cannot be read as " + type_name(requested) +
             "; read it with text()");
  if (!vector && count_ != 1)
    fail(Reason::WrongType, op, where,
         "holds " + std::to_string(count_) + " elements; read it as a std::vector");
  if (type_ == VelFile::kTypeGroup)
    fail(Reason::WrongType, op, where, "is a group reference; open the sub-group instead");
  unsigned char zero[8] = {};
  if (!convert_value(requested, zero, type_, zero, nullptr))
    fail(Reason::WrongType, op, where,
         "is " + type_name(type_) + " and cannot be read as " + type_name(requested));
  // The elements as stored, in host order, then each by the rule.
  const size_t size = size_t(VelFile::file_SizeOf(type_));
  std::vector<unsigned char> stored(size * count_);
  if (!stored.empty()) read(stored.data(), stored.size());
  std::string why;
  const size_t i = convert_values(requested, out, type_, stored.data(), count, &why);
  if (i < count)
    fail(Reason::WrongType, op, where,
         (count_ > 1 ? "element " + std::to_string(i) + " of " + std::to_string(count_) + " "
                     : std::string()) +
             why);
}

void DataGroup::read_converted(uint16_t type, const std::function<void*(size_t)>& allocate,
                               std::vector<uint8_t>* markers, Range second, Range first,
                               Range samples) const {
  const char* op = "DataGroup::read_as";
  const uint16_t from = sample_type();
  const Samples native = read_samples(markers, second, first, samples);
  std::visit(
      [&](const auto& v) {
        void* out = allocate(v.size());
        std::string why;
        const size_t i = convert_values(type, out, from, v.data(), v.size(), &why);
        if (i < v.size())
          fail(Reason::WrongType, op, Where{group_.file_state().get(), Access::node(group_).get(), -1},
               "cannot be read as " + type_name(type) + ": sample " + std::to_string(i) + " of the range " +
                   why);
      },
      native);
}

Samples DataGroup::read_samples(std::vector<uint8_t>* markers, Range second, Range first,
                                Range samples) const {
  return visit_type(sample_type(), [&](auto tag) -> Samples {
    using T = decltype(tag);
    if constexpr (std::is_same<T, Words>::value) {
      fail(Reason::WrongType, "DataGroup::read_samples",
           Where{group_.file_state().get(), Access::node(group_).get(), -1},
           "holds pairs of 32-bit words, which no Samples vector holds; read them with read()");
    } else {
      return read<T>(markers, second, first, samples);
    }
  });
}

}  // namespace velfile
