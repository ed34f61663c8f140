#include <windows.h>

#include "pin_answer.h"

int main() {
    DWORD written = 0;
    return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), kPinAnswer, kPinAnswerSize, &written, nullptr) &&
                   written == kPinAnswerSize
               ? 0
               : 4;
}
