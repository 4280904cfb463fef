#include "line/LineConfigCommands.h"

#include <fstream>

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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        Tell("The file\n" + ShownPath(path) +
             "\ncannot be opened. The line configuration is unchanged.");
        return false;
    }
    const auto read = ReadLineConfiguration(in);
    if (const auto* problem = std::get_if<ConfigProblem>(&read)) {
        Tell("The file\n" + ShownPath(path) + "\nis not a line configuration: " + problem->text +
             ".\nThe line configuration is unchanged.");
        return false;
    }
    // Only a file read to its end and found sound changes the table.
    const auto& configuration = std::get<LineConfiguration>(read);
    primo_.DeviceCount = configuration.deviceCount;
    for (std::size_t k = 0; k < configuration.addresses.size(); ++k) {
        table_.Table()[k] = configuration.addresses[k];
    }
    table_.SelectCount(primo_.DeviceCount - 1);
    return true;
}

}  // namespace tarvel
