// SPDX-License-Identifier: GPL-3.0-or-later
#include "line/LineConfigCommands.h"

#include "core/ConfigFile.h"
#include "platform/TextFiles.h"

namespace tarvel {

FileRequest LoadConfigurationRequest() {
    return {"Load Configuration", "Data Files (*.cfg)|*.cfg|All files (*.*)| *.*|", "cfg", 0};
}

FileRequest SaveConfigurationRequest() {
    return {"Save Line Configuration", "Data Files (*.cfg)|*.cfg", "cfg", 0};
}

LineConfigCommands::LineConfigCommands(Primo& primo, DeviceTableEditor& table,
                                       ProgressDisplay& progress, Prompts& prompts)
    : primo_(primo), table_(table), progress_(progress), prompts_(prompts) {}

void LineConfigCommands::Tell(const std::string& text) {
    prompts_.ShowMessage({text, "Info Box", MessageIcon::Exclamation, MessageButtons::Ok, {}});
}

void LineConfigCommands::ResetMenu_Click() {
    table_.LoadStartupTable();
    progress_.SetValue(0);
}

void LineConfigCommands::SaveMEnu_Click() {
    if (const auto path = prompts_.ChooseFileToSave(SaveConfigurationRequest())) {
        Save(*path);
    }
}

void LineConfigCommands::LoadMenu_Click() {
    if (const auto path = prompts_.ChooseFileToOpen(LoadConfigurationRequest())) {
        Load(*path);
    }
}

bool LineConfigCommands::Save(const std::string& path) {
    const auto failure =
        WriteFileReplacing(path, FormatLineConfiguration(primo_.DeviceCount, table_.Table()));
    if (failure) {
        Tell("The line configuration could not be saved to\n" + ShownPath(path) + "\n" + *failure);
        return false;
    }
    return true;
}

bool LineConfigCommands::Load(const std::string& path) {
    const auto read = ReadLineConfigurationFile(path);
    if (const auto* refusal = std::get_if<FileRefusal>(&read)) {
        const std::string what = refusal->cause == FileRefusal::Cause::CannotOpen
                                     ? std::string("cannot be opened")
                                     : AfterPath(*refusal);
        Tell("The file\n" + ShownPath(path) + "\n" + what +
             ". The line configuration is unchanged.");
        return false;
    }
    if (const auto* problem = std::get_if<ConfigProblem>(&read)) {
        Tell("The file\n" + ShownPath(path) + "\nis not a line configuration: " + problem->text +
             ".\nThe line configuration is unchanged.");
        return false;
    }
    // Only a file whose numbers were all read and found sound changes the table.
    const auto& configuration = std::get<LineConfiguration>(read);
    primo_.DeviceCount = configuration.deviceCount;
    for (std::size_t k = 0; k < configuration.addresses.size(); ++k) {
        table_.Table()[k] = configuration.addresses[k];
    }
    table_.SelectCount(primo_.DeviceCount - 1);
    return true;
}

}  // namespace tarvel
