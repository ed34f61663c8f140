// The PC/SC layer's own rules, the same with pcsc-lite and with WinSCard: which
// message each failed call gives, what the failure carries, and how the
// readers' multi-string is read.
#include "TestUtil.h"
#include "smartcardio/CardTerminal.h"
#include "smartcardio/PcscCall.h"

namespace {

AppException failureFor(const smartcardio::PcscFailure& failure, LONG code) {
    try {
        smartcardio::raisePcscFailure(failure, code, 1);
    } catch (const AppException& e) {
        return e;
    }
    return AppException("", "", "", 0, "", 0);
}

}  // namespace

TEST(Pcsc, EachFailedCallGivesItsMessageCodeAndTheSystemsText) {
    namespace f = smartcardio::failures;
    struct Row {
        const smartcardio::PcscFailure& failure;
        LONG code;
        const char* condition;
        const char* message;
    };
    const Row rows[] = {
        {f::establishContext, SCARD_E_NO_SERVICE, "SCardEstablishContext", "Componente de smartcard no inicializado"},
        {f::listReaders, SCARD_E_NO_READERS_AVAILABLE, "SCardListReaders",
         "No se obtuvo la lista de lectores de tarjetas inteligentes"},
        {f::connect, SCARD_E_NOT_READY, "SCardConnect", "Lector no disponible"},
        {f::connect, SCARD_W_REMOVED_CARD, "SCardConnect", "Tarjeta no disponible"},
        {f::connect, SCARD_E_SHARING_VIOLATION, "SCardConnect", "Tarjeta ocupada por otro proceso"},
        // pcsc-lite's answer for an empty reader.
        {f::connect, SCARD_E_NO_SMARTCARD, "SCardConnect", "Conexión no realizada"},
        {f::connect, SCARD_E_UNKNOWN_READER, "SCardConnect", "Conexión no realizada"},
        {f::transmit, SCARD_E_COMM_DATA_LOST, "SCardTransmit", "Comando APDU no ejecutado"},
        // A code no system has words for.
        {f::transmit, static_cast<LONG>(0x8010FFFFul), "SCardTransmit", "Comando APDU no ejecutado"},
    };
    for (const Row& row : rows) {
        const LONG code = row.code;
        const AppException e = failureFor(row.failure, code);
        EXPECT_EQ(row.condition, e.condition());
        EXPECT_EQ(row.message, e.message());
        EXPECT_EQ(static_cast<int32_t>(row.code), e.code());
        // The system's words, or none: Wine's FormatMessageW has nothing for the
        // smart-card codes. Never a line break, never a cut-off character.
        const std::string text = smartcardio::platform::systemErrorText(code);
        EXPECT_EQ(text, e.detail());
        const bool clean = text.empty() || (text.back() != '\n' && text.back() != '\r' &&
                                            text.find('\0') == std::string::npos);
        EXPECT_TRUE(clean) << std::hex << row.code << ": " << text;
    }
    EXPECT_EQ("", smartcardio::platform::systemErrorText(SCARD_S_SUCCESS));
}

TEST(Pcsc, ReaderNamesInPlatformOrder) {
    using V = std::vector<std::string>;
    using smartcardio::CardTerminal;
    const char twoNames[] = "Lector \xc3\xb1" "and\xc3\xba \xe2\x82\xac \xf0\x9d\x84\x9e 00 00\0Otro 01 00\0";
    const std::string two(twoNames, sizeof twoNames);
    EXPECT_EQ((V{"Lector \xc3\xb1" "and\xc3\xba \xe2\x82\xac \xf0\x9d\x84\x9e 00 00", "Otro 01 00"}),
              CardTerminal::parseReadersList(two.data(), two.size()));
    // The empty name ends the list; a list cut short ends at its length.
    EXPECT_EQ((V{"A"}), CardTerminal::parseReadersList("A\0\0B\0", 6));
    EXPECT_EQ((V{"A", "BC"}), CardTerminal::parseReadersList("A\0BCD", 4));
    EXPECT_EQ(V{}, CardTerminal::parseReadersList("\0", 1));
    EXPECT_EQ(V{}, CardTerminal::parseReadersList("", 0));
    EXPECT_EQ(V{}, CardTerminal::parseReadersList(nullptr, 10));
}
