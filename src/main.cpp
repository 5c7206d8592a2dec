#include "shell/app/app.h"

int main() { return win_main(nullptr, nullptr, nullptr, 1); }
