// The manual's page behind a help topic: a module type's page, the function reference, the guide.
#pragma once

#include <functional>
#include <string>

// The manual's first page, the one shown for an empty or unknown topic.
constexpr const char* kHelpIndexPage = "README.md";

// The page (a path below the manual's folder, e.g. "modules/Osc.md") for a topic: a module type
// ("Osc", "ADSREnv"), a section name that chooses a type as a patch would ("EnvGain", "Osc1"), a
// formula function, operator or unit ("LinFade", "semis"), or one of the manual's parts
// ("language", "modules", "functions"); empty when nothing has a page. pfnExists tells whether a
// page is there. The module types must be registered (InitSharedTables).
std::string HelpPageForTopic(const std::string& sTopic, const std::function<bool(const std::string&)>& pfnExists);

// The anchor of a heading, as the manual's links name it ("page.md#anchor"): lower case, blanks
// to hyphens, other punctuation dropped, so "References: Module:Variable" is
// "references-modulevariable".
std::string HelpAnchor(const std::string& sHeading);
