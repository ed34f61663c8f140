#include <unistd.h>

#include "pin_answer.h"

int main() { return write(STDOUT_FILENO, kPinAnswer, kPinAnswerSize) == static_cast<ssize_t>(kPinAnswerSize) ? 0 : 4; }
