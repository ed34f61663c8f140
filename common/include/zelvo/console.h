#pragma once
// The console build writes its records to the console: Spanish text must show
// as it is (Linux: the user's locale; Windows: the console set to UTF-8).
namespace zelvo {

void prepareConsoleForText();

}  // namespace zelvo
