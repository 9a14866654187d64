#include <cstdlib>

#include "frontend/startup.h"

int main(int argc, char** argv) {
    std::exit(tesk_main(argc, argv));
}
