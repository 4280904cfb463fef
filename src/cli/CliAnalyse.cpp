// SPDX-License-Identifier: GPL-3.0-or-later
// `analyse`: the analysis report of an error list; it uses no line.
#include <ostream>

#include "cli/CliSession.h"
#include "core/Analysis.h"
#include "core/ListFile.h"
#include "platform/DurableFiles.h"
#include "platform/TextFiles.h"

namespace tarvel {

int CliSession::Analyse() {
    std::string bytes;
    if (const auto refusal = ReadRegularFile(options_.listFile, bytes)) {
        host_.err << "line-tarvel-cli: cannot read the error list " << ShownPath(options_.listFile)
                  << ": " << refusal->text << "\n";
        return kPortOrFileFailed;
    }
    const auto read = ReadListFile(bytes);
    if (const auto* problem = std::get_if<ListFileProblem>(&read)) {
        host_.err << "line-tarvel-cli: " << ShownPath(options_.listFile)
                  << " is no list file: " << problem->text << "\n";
        return kPortOrFileFailed;
    }
    const AnalysisReport report = tarvel::Analyse(std::get<std::vector<std::string>>(read));
    if (report.skipped > 0) {
        host_.err << "line-tarvel-cli: " << Counted(report.skipped, "line")
                  << (report.skipped == 1 ? " is" : " are") << " no error record and left out\n";
    }
    if (!options_.datFile.empty()) {
        if (const auto failure = WriteFileDurably(options_.datFile, FormatListFile(report.lines))) {
            host_.err << "line-tarvel-cli: cannot write the analysis report "
                      << ShownPath(options_.datFile) << ": " << *failure << "\n";
            return kPortOrFileFailed;
        }
    }
    if (options_.json) {
        QJsonObject document = AnalysisJson(report);
        document.insert("command", "analyse");
        AddProvenance(document, MadeOf(false));
        host_.out << JsonText(document);
    } else {
        for (const std::string& line : report.lines) {
            host_.out << line << "\n";
        }
    }
    return kAllWell;
}

}  // namespace tarvel
