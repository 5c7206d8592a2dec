#include "shell/app.h"

int main() { return win_main(nullptr, nullptr, nullptr, 1); }
