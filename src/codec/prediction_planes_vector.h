// The vector loops of the plane prediction, written once for its SSSE3 and
// AVX2 forms. Each block of kBlock pixels is split into colour vectors with
// byte shuffles, decorrelated, and predicted with the median predictor in
// unsigned bytes (prediction_shuffles.h).
//
// Not a header of its own: prediction_planes_ssse3.cpp and
// prediction_planes_avx2.cpp each include it once, after defining, in the
// unnamed namespace of prediction_detail, the vector type `Vector`, kBlock
// (pixels a step: 16 bytes a lane, one or two lanes), the attribute
// QUELMUX_VECTOR_TARGET and the primitives below for that width. Everything
// here has internal linkage, so each file compiles its own copy for its
// instruction set.
//
//   load(p, lane)    the bytes at p, and in a second lane those at p + lane
//   mask(m)          the 16-byte shuffle mask m in every lane
//   store(p, v)
//   min_u8, max_u8, subs_u8, add_i8, sub_i8, or_bits, shuffle_bytes,
//   unpack_lo32, unpack_hi32, unpack_lo64, unpack_hi64   (within each lane)

namespace prediction_detail {
namespace {

QUELMUX_VECTOR_TARGET inline Vector predict(Vector l, Vector a, Vector d) {
  const Vector mn = min_u8(l, a);
  const Vector mx = max_u8(l, a);
  const Vector up = subs_u8(mx, d);
  return add_i8(mn, min_u8(up, sub_i8(mx, mn)));
}

struct Colours24 {
  Vector c[3];
};

struct Split24 {
  Vector m[3][3];
};

// The decorrelated colour vectors of the pixels at `p`: lane 0 holds pixels
// 0-15, lane 1 pixels 16-31, so the in-lane shuffles need no lane crossing.
QUELMUX_VECTOR_TARGET inline Colours24 load24(const Byte* p, const Split24& s) {
  const Vector v0 = load(p, 48), v1 = load(p + 16, 48), v2 = load(p + 32, 48);
  Colours24 x;
  for (int c = 0; c < 3; ++c) {
    x.c[c] = or_bits(or_bits(shuffle_bytes(v0, s.m[c][0]), shuffle_bytes(v1, s.m[c][1])), shuffle_bytes(v2, s.m[c][2]));
  }
  x.c[0] = sub_i8(x.c[0], x.c[1]);
  x.c[2] = sub_i8(x.c[2], x.c[1]);
  return x;
}

struct Colours32 {
  Vector c[4];
};

QUELMUX_VECTOR_TARGET inline Colours32 load32(const Byte* p, Vector group) {
  Vector s[4];
  for (int k = 0; k < 4; ++k) s[k] = shuffle_bytes(load(p + 16 * k, 64), group);
  // s[k] holds four dwords (b, g, r, a of pixels 4k..4k+3); transpose them.
  const Vector t0 = unpack_lo32(s[0], s[1]);
  const Vector t1 = unpack_hi32(s[0], s[1]);
  const Vector t2 = unpack_lo32(s[2], s[3]);
  const Vector t3 = unpack_hi32(s[2], s[3]);
  Colours32 x;
  x.c[1] = unpack_hi64(t0, t2);
  x.c[0] = sub_i8(unpack_lo64(t0, t2), x.c[1]);
  x.c[2] = sub_i8(unpack_lo64(t1, t3), x.c[1]);
  x.c[3] = unpack_hi64(t1, t3);
  return x;
}

// Always inlined, so that the exported forms are these loops themselves.
[[gnu::always_inline]] QUELMUX_VECTOR_TARGET inline std::size_t forward_median_24(const Byte* in, Byte* const planes[3],
                                                                                  std::size_t width, std::size_t begin,
                                                                                  std::size_t end) {
  Split24 split;
  for (int c = 0; c < 3; ++c) {
    for (int t = 0; t < 3; ++t) split.m[c][t] = mask(kMasks24[c][t].data());
  }
  const std::size_t above = 3 * width;
  std::size_t p = begin;
  for (; end - p >= kBlock; p += kBlock) {
    const Byte* q = in + 3 * p;
    const Colours24 x = load24(q, split);
    const Colours24 l = load24(q - 3, split);
    const Colours24 a = load24(q - above, split);
    const Colours24 d = load24(q - above - 3, split);
    for (int c = 0; c < 3; ++c) store(planes[c] + p, sub_i8(x.c[c], predict(l.c[c], a.c[c], d.c[c])));
  }
  return p;
}

[[gnu::always_inline]] QUELMUX_VECTOR_TARGET inline std::size_t forward_median_32(const Byte* in, Byte* const planes[4],
                                                                                  std::size_t width, std::size_t begin,
                                                                                  std::size_t end) {
  const Vector group = mask(kGroup32.data());
  const std::size_t above = 4 * width;
  std::size_t p = begin;
  for (; end - p >= kBlock; p += kBlock) {
    const Byte* q = in + 4 * p;
    const Colours32 x = load32(q, group);
    const Colours32 l = load32(q - 4, group);
    const Colours32 a = load32(q - above, group);
    const Colours32 d = load32(q - above - 4, group);
    for (int c = 0; c < 4; ++c) store(planes[c] + p, sub_i8(x.c[c], predict(l.c[c], a.c[c], d.c[c])));
  }
  return p;
}

}  // namespace
}  // namespace prediction_detail
