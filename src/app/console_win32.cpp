#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "app/console.h"

void prepareConsole() {
  _setmode(_fileno(stdout), _O_TEXT);
}
