#include "app/ReadVexaAction.h"

#include "app/ABI.h"
#include "base/AppException.h"
#include "app/Utf8.h"
#include "app/Vexa.h"
#include "app/VexaApplication.h"
#include "photo/PngConverter.h"
#include "zelvo/base64.h"
#include "zelvo/log.h"

namespace {

// The image as a PNG in Base64; empty when it cannot be converted.
std::string pngBase64(const Bytes& jp2) {
    Bytes png;
    // A PNG cut short by a failure is no picture: nothing is sent instead.
    if (photo::convertToPng(jp2.data(), jp2.size(), png) != 0) {
        LOG_WARN("ReadVexaAction::read") << "No se pudo convertir la imagen a PNG";
        return std::string();
    }
    return ReadVexaAction::toBase64(png.data(), static_cast<long>(png.size()));
}

}  // namespace

VexaResponse ReadVexaAction::execute(const std::vector<std::string>& params) {
    LOG_INFO("ReadVexaAction::execute") << "Ejecutando lectura de Vexa";
    return read(params);
}

std::string ReadVexaAction::toBase64(const uint8_t* bytes, long count) {
    LOG_INFO("ReadVexaAction::toBase64") << "Codificando mensaje en base64";
    if (bytes == nullptr || count <= 0) return std::string();
    return zelvo::base64Encode(std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count)));
}

std::string ReadVexaAction::convertDate(const std::string& yymmdd) {
    if (yymmdd.size() != 6) return yymmdd;
    return yymmdd.substr(4, 2) + "/" + yymmdd.substr(2, 2) + "/" + yymmdd.substr(0, 2);
}

VexaResponse ReadVexaAction::read(const std::vector<std::string>& params) {
    VexaResponse response;
    if (params.size() < 2) return response;
    bool abi = false, dg1 = false, dg2 = false, dg7 = false;
    for (size_t i = 1; i < params.size(); ++i) {
        LOG_INFO("ReadVexaAction::read") << "Parametro encontrado " << VexaApplication::quote(params[i]);
        if (params[i] == "abi") abi = true;
        else if (params[i] == "dg1") dg1 = true;
        else if (params[i] == "dg2") dg2 = true;
        else if (params[i] == "dg7") dg7 = true;
    }
    if (abi) {
        LOG_INFO("ReadVexaAction::read") << "Leendo ABI";
        ABI record = VexaApplication::getVexaInstance().leerABI();
        // The card may store Latin-1; the page's text frame must be UTF-8.
        response.add("cui", asUtf8(record.cui));
        response.add("digito", asUtf8(record.digito));
        response.add("primerAp", asUtf8(record.primerAp));
        response.add("segundoAp", asUtf8(record.segundoAp));
        response.add("preNombres", asUtf8(record.preNombres));
        response.add("ubigeo", asUtf8(record.ubigeo));
        response.add("genero", asUtf8(record.genero));
        response.add("grupoVotacion", asUtf8(record.grupoVotacion));
    }
    if (dg1) {
        LOG_INFO("ReadVexaAction::read") << "Leendo dg1";
        mrtdutils::MRZInfo mrz = VexaApplication::getVexaInstance().leerDg1();
        response.add("mrz", asUtf8(mrz.getMrzText()));
        response.add("fechaNac", asUtf8(convertDate(mrz.getDateOfBirth())));
        response.add("fechaExp", asUtf8(convertDate(mrz.getDateOfExpiry())));
    }
    if (dg2) {
        LOG_INFO("ReadVexaAction::read") << "Leendo dg2";
        response.add("dg2", pngBase64(VexaApplication::getVexaInstance().leerFoto()));
    }
    if (dg7) {
        LOG_INFO("ReadVexaAction::read") << "Leendo dg7";
        response.add("dg7", pngBase64(VexaApplication::getVexaInstance().leerFirma()));
    }
    return response;
}
