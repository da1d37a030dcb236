#include <iostream>

int main(int, char**) {
  std::cout << "veldra\n";
  return 0;
}
