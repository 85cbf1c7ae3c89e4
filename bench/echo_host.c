/* The smallest possible native-messaging host: answers every frame with the same bytes. It is
   the baseline that the real host's round trip and start-up are measured against. */
#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  setvbuf(stdout, NULL, _IONBF, 0);
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  for (;;) {
    uint32_t n = 0;
    if (fread(&n, 1, 4, stdin) != 4 || n == 0 || n > (64u << 20))
      return -1;
    char* buf = malloc(n + 4);
    if (buf == NULL)
      return -1;
    *(uint32_t*)buf = n;
    size_t got = fread(buf + 4, 1, n, stdin);
    fwrite(buf, 1, 4 + got, stdout);
    free(buf);
    if (got < n)
      return -1;
  }
}
