#include "app/JsonResponse.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "zelvo/log.h"

namespace {

// RapidJSON's writer escapes exactly what the page expects: '"' and '\\', the five
// short control escapes, \u00XX for other bytes below 0x20, everything else raw
// (no validation, so the bytes of a value pass unchanged).
using Writer = rapidjson::Writer<rapidjson::StringBuffer>;

void writeString(Writer& writer, const std::string& text) {
    writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

void writeKey(Writer& writer, const std::string& text) {
    writer.Key(text.data(), static_cast<rapidjson::SizeType>(text.size()));
}

}  // namespace

std::string JsonResponse::okResponse(const VexaResponse& response) {
    LOG_INFO("JsonResponse::okResponse") << "Creando mensaje de respuesta";
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writeKey(writer, "status");
    writeString(writer, "0");
    writeKey(writer, "body");
    writer.StartObject();
    for (size_t i = 0; i < response.size(); ++i) {
        writeKey(writer, response.getKey(i));
        writeString(writer, response.getValue(i));
    }
    writer.EndObject();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}

std::string JsonResponse::errorResponse(const AppException& exception) {
    LOG_INFO("JsonResponse::errorResponse") << "Creando mensaje de respuesta de error";
    rapidjson::StringBuffer buffer;
    Writer writer(buffer);
    writer.StartObject();
    writeKey(writer, "status");
    writeString(writer, "1");
    writeKey(writer, "body");
    writer.StartObject();
    writeKey(writer, "message");
    writeString(writer, exception.message());
    writer.EndObject();
    writer.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}
