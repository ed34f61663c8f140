#pragma once
// The byte encoding of a command APDU (ISO/IEC 7816-4), short or extended form.
#include <cstdint>

#include "base/Bytes.h"

namespace mrtdutils {

class CommandAPDU {
public:
    // No data, no response expected.
    CommandAPDU(int cla, int ins, int p1, int p2);
    // No data, up to ne response bytes.
    CommandAPDU(int cla, int ins, int p1, int p2, int ne);
    // All of `data`, up to ne response bytes (0: none expected).
    CommandAPDU(int cla, int ins, int p1, int p2, const Bytes& data, int ne);
    // The first dataLength bytes of `data`.
    CommandAPDU(int cla, int ins, int p1, int p2, const Bytes& data, int dataLength, int ne);
    // READ BINARY (00 B0) of ne bytes.
    static CommandAPDU readBinary(int p1, int p2, int ne);
    // A command may carry a PIN: its bytes are wiped when it goes. An assignment
    // would let the old bytes go unwiped, so there is none.
    ~CommandAPDU();
    CommandAPDU(const CommandAPDU&) = default;
    CommandAPDU(CommandAPDU&&) = default;
    CommandAPDU& operator=(const CommandAPDU&) = delete;
    CommandAPDU& operator=(CommandAPDU&&) = delete;

    const Bytes& getBytes() const { return bytes_; }
    Bytes getData() const;
    int getCLA() const { return bytes_[0]; }
    int getINS() const { return bytes_[1]; }
    int getP1() const { return bytes_[2]; }
    int getP2() const { return bytes_[3]; }
    int getNc() const { return nc_; }
    int getNe() const { return ne_; }

private:
    void init(int cla, int ins, int p1, int p2, const Bytes& data, int dataLength, int ne);
    static void checkArrayBounds(int offset, int length);

    Bytes bytes_;
    int nc_ = 0;
    int ne_ = 0;
    int dataOffset_ = 0;
};

}  // namespace mrtdutils
