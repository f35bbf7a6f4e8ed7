#include "settings_check.h"

#include "config/settings_store.h"
#include "config/texts.h"
#include "core/settings_problems.h"
#include "ui_texts.h"

#include <cstdio>

bool ConfirmSettingsFiles(SettingsStore& settings, TextTable& texts, const UiSeams& seams)
{
    std::optional<SettingsFileProblem> refused = settings.Refusal();
    const std::vector<SettingsFileProblem> problems = settings.TakeProblems();
    if (refused)
        texts.Select(LanguageFromLocale()); // a damaged file does not say which one
    for (const SettingsFileProblem& problem : problems) {
        if (!problem.goodCopyUsed)
            continue;
        std::string text = DescribeSettingsProblem(texts, kTextSettingsRestored, problem);
        std::fprintf(stderr, "vembacast: %s\n", text.c_str());
        ShowOkMessage(seams, nullptr, FromUtf8(text));
    }
    if (!refused)
        return true;
    std::string text = DescribeSettingsProblem(texts, "IDS_ERROR_SETTINGS_DAMAGED", *refused);
    std::fprintf(stderr, "vembacast: %s\n", text.c_str());
    if (seams.showMessage(nullptr, FromUtf8(text), veneta::MessageButtons::YesNo)
        != veneta::kButtonYes)
        return false;
    return settings.StartFresh();
}
