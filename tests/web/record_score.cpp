// Records one result the way the desktop game does at the end of a run, in a directory of the
// caller's choice, so that the web build's stored table can be compared with the desktop's file.
//   record_score DIRECTORY SCORE NAME

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "runtime/short_string.h"
#include "scores/score_file.h"

int main(int argc, char** argv) {
  if (argc != 4 || chdir(argv[1]) != 0) {
    std::fprintf(stderr, "usage: record_score DIRECTORY SCORE NAME\n");
    return 2;
  }
  RefreshScores(static_cast<std::uint16_t>(std::atoi(argv[2])), ShortString(argv[3]));
  return 0;
}
