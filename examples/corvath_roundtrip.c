/* Encodes a few synthetic frames with libcorvath, decodes them back and
 * checks that every byte returned. Build against the installed library:
 *
 *   cc corvath_roundtrip.c $(pkg-config --cflags --libs corvath) -o roundtrip
 */
#include <corvath.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int roundtrip(int width, int height, int bit_depth) {
  size_t size = crvt_frame_size(width, height, bit_depth);
  size_t bound = crvt_encode_bound(width, height, bit_depth);
  unsigned char *frame = malloc(size), *packet = malloc(bound), *back = malloc(size);
  crvt_encoder* enc = NULL;
  crvt_decoder* dec = NULL;
  crvt_status s = CRVT_ERROR_MEMORY;
  int frames_ok = 0;

  if (frame && packet && back) s = crvt_encoder_create(width, height, bit_depth, CRVT_SKIP_UNCHANGED, &enc);
  if (s == CRVT_OK) s = crvt_decoder_create(width, height, bit_depth, &dec);
  /* A moving gradient, a frame of one colour, and that frame again (which
     the encoder sends as a null frame of 0 bytes). */
  for (int n = 0; s == CRVT_OK && n < 4; ++n) {
    size_t packet_size = 0, back_size = 0;
    for (size_t i = 0; i < size; ++i) frame[i] = (unsigned char)(n < 2 ? i * 7 + (i / 97) * n : 42);
    s = crvt_encode(enc, frame, size, packet, bound, &packet_size);
    if (s == CRVT_OK) s = crvt_decode(dec, packet, packet_size, back, size, &back_size);
    if (s == CRVT_OK && (back_size != size || memcmp(frame, back, size) != 0)) {
      fprintf(stderr, "%dx%dx%d: frame %d differs\n", width, height, bit_depth, n);
      break;
    }
    if (s == CRVT_OK) {
      printf("%dx%d, %d bits: frame %d, %zu bytes -> %zu\n", width, height, bit_depth, n, size, packet_size);
      ++frames_ok;
    }
  }
  if (s != CRVT_OK) fprintf(stderr, "%dx%dx%d: %s\n", width, height, bit_depth, crvt_status_message(s));
  crvt_decoder_destroy(dec);
  crvt_encoder_destroy(enc);
  free(back);
  free(packet);
  free(frame);
  return frames_ok == 4;
}

int main(void) {
  printf("libcorvath %s\n", crvt_version());
  int ok = roundtrip(320, 240, 24) && roundtrip(17, 5, 32);
  puts(ok ? "all frames identical" : "FAILED");
  return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
