#pragma once
// The contract between the launcher and a native plug-in: five exports with C
// linkage, and two senders the launcher hands over first.

#ifdef _WIN32
#define ZELVO_EXPORT extern "C" __declspec(dllexport)
#else
#define ZELVO_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using ZelvoTextSender = void (*)(const char* message);
using ZelvoBinarySender = void (*)(const char* data, int length);

using ZelvoRegisterSendMessageFunction = void (*)(ZelvoTextSender, ZelvoBinarySender);
using ZelvoOnConnect = void (*)();
using ZelvoOnTextMessage = void (*)(const char* message);
using ZelvoOnBinaryMessage = void (*)(const char* data, int length);
using ZelvoOnClose = void (*)();
