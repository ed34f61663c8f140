#include "app/Vexa.h"

#include "base/AppException.h"
#include "vexaldscore/VexaLds.h"
#include "vexapkicore/VexaPki.h"
#include "zelvo/log.h"

namespace {
const Bytes kLdsAid{0xA0, 0x00, 0x00, 0x02, 0x47, 0x10, 0x01};
const uint8_t kPkiAid[] = {0xA0, 0x00, 0x00, 0x00, 0x77, 0x01, 0x00, 0x70,
                           0x0A, 0x10, 0x00, 0xF1, 0x00, 0x00, 0x01, 0x00};
const uint8_t kMasterFile[] = {0x3F, 0x00};
const uint8_t kAbiFile[] = {0xFD, 0x01};
}  // namespace

void Vexa::selectLds() {
    if (ldsSelected_) {
        LOG_INFO("Vexa::selectLds") << "LDS ya ha sido seleccionado";
        return;
    }
    LOG_INFO("Vexa::selectLds") << "Seleccionando lds";
    ldsSelected_ = true;
    autenticSelected_ = false;
    lds_.select(kLdsAid);
}

void Vexa::doBac() {
    if (bacDone_) {
        LOG_INFO("Vexa::doBac") << "Ya se ha realizado BAC";
        return;
    }
    LOG_INFO("Vexa::doBac") << "Realizando BAC";
    bacDone_ = true;
    lds_.doBac();
}

void Vexa::selectAutentic() {
    if (autenticSelected_) {
        LOG_INFO("Vexa::selectAutentic") << "Autentic ya ha sido seleccionado";
        return;
    }
    LOG_INFO("Vexa::selectAutentic") << "Seleccionando autentic";
    autenticSelected_ = true;
    ldsSelected_ = false;
    pki_.select(0x04, kPkiAid, sizeof kPkiAid);
}

void Vexa::selectMasterFile() {
    LOG_INFO("Vexa::selectMasterFile") << "Seleccionando master file";
    pki_.select(0x00, kMasterFile, sizeof kMasterFile);
}

mrtdutils::MRZInfo Vexa::leerDg1() {
    selectLds();
    Bytes dg1 = lds_.readDg1();
    std::string text;
    if (dg1.size() > 5) text.assign(dg1.begin() + 5, dg1.end());
    return mrtdutils::MRZInfo::readObject(text);
}

Bytes Vexa::readImage(int dataGroup, size_t offset) {
    selectLds();
    doBac();
    Bytes group = lds_.readBinaryDg(dataGroup);
    if (group.size() <= offset) return Bytes();
    return Bytes(group.begin() + static_cast<long>(offset), group.end());
}

Bytes Vexa::leerFoto() {
    LOG_INFO("Vexa::leerFoto") << "Leendo foto";
    return readImage(2, kPhotoOffset);
}

Bytes Vexa::leerFirma() {
    LOG_INFO("Vexa::leerFirma") << "Leendo firma";
    return readImage(7, kSignatureOffset);
}

ABI Vexa::leerABI() {
    LOG_INFO("Vexa::leerABI") << "Leendo abi";
    selectAutentic();
    selectMasterFile();
    pki_.select(0x00, kAbiFile, sizeof kAbiFile);
    ABI abi;
    abi.parse(pki_.readBinary());
    return abi;
}

CredentialResult Vexa::cambiarPin(int credentialId, const std::string& currentPin, const std::string& newPin) {
    static const char* const kFunction = "Vexa::cambiarPin";
    LOG_INFO(kFunction) << "Cambiando PIN";
    selectAutentic();
    if (credentialId != 1 && credentialId != 4)
        APP_THROW(kFunction, "credentialid", "El ID de la credencial no es válido");
    auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
    const uint16_t verify = pki_.verifyPassphrase(credentialId, bytes(currentPin), static_cast<int>(currentPin.size()));
    CredentialResult result;
    if (verify == 0x6983) {
        result.message = "PIN bloqueado";
        result.status = CredentialStatus::BLOCKED;
        result.remainingTries = 0;
        return result;
    }
    if ((verify & 0xFFF0) == 0x63C0) {
        const int n = verify & 0x0F;
        result.message = "PIN incorrecto. Quedan " + std::to_string(n) + " intentos";
        result.status = CredentialStatus::WRONG_PIN;
        result.remainingTries = n;
        return result;
    }
    if (verify != 0x9000)
        APP_THROW(kFunction, "res!=CredentialStatus::OK", "Respuesta de verificación de pin incorrecta");
    const uint16_t change = pki_.changeReferenceData(credentialId, bytes(currentPin), static_cast<int>(currentPin.size()),
                                                     bytes(newPin), static_cast<int>(newPin.size()));
    if (change != 0x9000)
        APP_THROW(kFunction, "res!=CredentialStatus::OK", "Respuesta de actualización de pin incorrecta");
    result.message = "PIN actualizado correctamente";
    result.status = CredentialStatus::OK;
    result.remainingTries = 3;
    return result;
}
