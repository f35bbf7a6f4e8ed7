#include "core/settings_problems.h"

std::string DescribeSettingsProblem(
    const TextTable& texts, const char* textKey, const SettingsFileProblem& problem)
{
    const std::string aside = problem.setAsideAs.empty() ? problem.file : problem.setAsideAs;
    const std::string values[] = { problem.file, problem.problem, aside };
    std::string text = texts.Lookup(textKey);
    size_t from = 0;
    for (const std::string& value : values) {
        size_t at = text.find("%s", from);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, value);
        from = at + value.size();
    }
    return text;
}
