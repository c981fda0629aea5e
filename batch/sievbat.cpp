#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "batch/main_Sievbat.h"

int main(int argc, char** argv) {
  // Line 2 of a header file holds a date in the operator's local form.
  std::setlocale(LC_TIME, "");
  std::vector<std::string> args(argv + 1, argv + argc);
  return Main(args, std::cout, std::cerr);
}
