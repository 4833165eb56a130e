#pragma once
// The interview-level fields: the source column of the new layout's
// interview table, the field of response table 1 that receives it, and the
// field's type. The legacy source tables use the target names.
#include <array>
#include <string_view>

namespace zx {

enum class FieldKind { Integer, Real, Text, DateTime };

struct CInterviewField {
  std::string_view sourceColumn;
  std::string_view targetField;
  FieldKind kind;
};

inline constexpr std::array<CInterviewField, 26> kInterviewFields{{
    {"AgentId", "CodeEnqueteur", FieldKind::Text},
    {"StartInterview", "DebutInterview", FieldKind::DateTime},
    {"EndInterview", "FinInterview", FieldKind::DateTime},
    {"Seed", "Seed", FieldKind::Text},
    {"CallId", "CallId", FieldKind::Text},
    {"IPAddress", "IPAddress", FieldKind::Text},
    {"Completed", "Completed", FieldKind::Integer},
    {"LanguageId", "LanguageId", FieldKind::Integer},
    {"Quotas", "Quotas", FieldKind::Text},
    {"QuotasToDo", "QuotasToDo", FieldKind::Text},
    {"KeyStrokeCount", "KeyStrokeCount", FieldKind::Integer},
    {"ErrorsOnVerifyCount", "ErrorsOnVerifyCount", FieldKind::Integer},
    {"Guid", "Guid", FieldKind::Text},
    {"LastResult", "LastResult", FieldKind::Integer},
    {"CallCount", "CallCount", FieldKind::Integer},
    {"Revision", "Revision", FieldKind::Integer},
    {"WebIdentity", "WebIdentity", FieldKind::Text},
    {"Resolution", "Resolution", FieldKind::Text},
    {"Capabilities", "Capabilities", FieldKind::Text},
    {"Broker", "Broker", FieldKind::Text},
    {"BrokerPanelId", "BrokerPanelId", FieldKind::Text},
    {"Longitude", "Longitude", FieldKind::Real},
    {"Latitude", "Latitude", FieldKind::Real},
    {"PanelId", "PanelId", FieldKind::Text},
    {"ListId", "ListId", FieldKind::Text},
    {"QuotaCategory", "QuotaCategory", FieldKind::Text},
}};

}  // namespace zx
