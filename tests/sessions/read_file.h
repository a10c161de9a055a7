/* The C hosts' file reader: the whole file in a malloc'd buffer (the caller frees it), NULL when it
 * cannot be read or is empty. */
#ifndef INFERLET_TESTS_SESSIONS_READ_FILE_H_
#define INFERLET_TESTS_SESSIONS_READ_FILE_H_

#include <stdio.h>
#include <stdlib.h>

static unsigned char* read_file(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  unsigned char* bytes = NULL;
  long length;
  if (!file) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && fseek(file, 0, SEEK_SET) == 0) {
    bytes = (unsigned char*)malloc((size_t)length);
    if (bytes && fread(bytes, 1, (size_t)length, file) != (size_t)length) {
      free(bytes);
      bytes = NULL;
    }
    *size = (size_t)length;
  }
  fclose(file);
  return bytes;
}

#endif /* INFERLET_TESTS_SESSIONS_READ_FILE_H_ */
