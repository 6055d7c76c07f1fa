// Byte-order helpers shared by the file formats, the VISA library and the
// instrument simulator. Fields are assembled byte by byte, never by casting
// bytes to a struct, so the code is independent of host order and padding.
// Plain C++ only: the VISA library and the simulator link nothing else.
#pragma once

#include <cstdint>
#include <cstring>

namespace io {

inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t le64(const uint8_t* p) { return le32(p) | uint64_t(le32(p + 4)) << 32; }
inline uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
inline uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

inline float f32(uint32_t bits) { float f; std::memcpy(&f, &bits, 4); return f; }
inline double f64(uint64_t bits) { double d; std::memcpy(&d, &bits, 8); return d; }
inline uint32_t bits32(float f) { uint32_t b; std::memcpy(&b, &f, 4); return b; }
inline uint64_t bits64(double d) { uint64_t b; std::memcpy(&b, &d, 8); return b; }

inline float lef32(const uint8_t* p) { return f32(le32(p)); }
inline double lef64(const uint8_t* p) { return f64(le64(p)); }
inline float bef32(const uint8_t* p) { return f32(be32(p)); }
inline double bef64(const uint8_t* p) { return f64(be64(p)); }

// Little-endian writers.
inline void put16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void put64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putf32(uint8_t* p, float f) { put32(p, bits32(f)); }
inline void putf64(uint8_t* p, double d) { put64(p, bits64(d)); }

// Big-endian writers.
inline void putBe16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
inline void putBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}
inline void putBe64(uint8_t* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * (7 - i)));
}
inline void putBef32(uint8_t* p, float f) { putBe32(p, bits32(f)); }
inline void putBef64(uint8_t* p, double d) { putBe64(p, bits64(d)); }

} // namespace io
