#pragma once
// The card facade: which of the card's two applications is selected, Basic
// Access Control at most once, and what the actions read and change.
#include <string>

#include "app/ABI.h"
#include "base/Bytes.h"
#include "mrtdutils/MRZInfo.h"

namespace vexapkicore {
class VexaPki;
}
namespace vexaldscore {
class VexaLds;
}

enum class CredentialStatus { OK = 0, WRONG_PIN = 1, BLOCKED = 2 };

struct CredentialResult {
    std::string message;
    CredentialStatus status = CredentialStatus::OK;
    int remainingTries = 0;
};

class Vexa {
public:
    // Neither object is owned; both outlive the facade.
    Vexa(vexapkicore::VexaPki& pki, vexaldscore::VexaLds& lds) : pki_(pki), lds_(lds) {}

    void selectLds();
    void doBac();
    void selectAutentic();
    void selectMasterFile();

    mrtdutils::MRZInfo leerDg1();
    // The JPEG 2000 file inside data group 2 (7); empty when the group is too short to hold one.
    Bytes leerFoto();
    Bytes leerFirma();
    ABI leerABI();
    // credentialId 1 (authentication) or 4 (signature). A wrong or blocked PIN is a result.
    CredentialResult cambiarPin(int credentialId, const std::string& currentPin, const std::string& newPin);

    static constexpr size_t kPhotoOffset = 88;
    static constexpr size_t kSignatureOffset = 97;

private:
    Bytes readImage(int dataGroup, size_t offset);

    vexapkicore::VexaPki& pki_;
    vexaldscore::VexaLds& lds_;
    // Each flag is set before the command it describes is sent.
    bool autenticSelected_ = false;
    bool ldsSelected_ = false;
    bool bacDone_ = false;
};
