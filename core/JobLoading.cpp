#include "JobLoading.h"

#include <cstdio>
#include <filesystem>

#include "Text.h"

namespace velkor {
namespace {

std::string fileNameOf(const JobLoad& load) {
    return utf8ToCp1251(std::filesystem::path(load.path()).filename().string());
}

}  // namespace

void JobLoading::start(const std::string& databaseString, const std::string& path,
                       const MachineVariables& variables) {
    if (load_) {
        throw VelkorError(cp1251("Уже загружается ") + fileNameOf(*load_) +
                          cp1251(": следующий файл можно загрузить, когда она закончится"));
    }
    load_ = std::make_unique<JobLoad>(databaseString, path, variables.L_BarCode,
                                      HolePositionLimits{variables.Qty_Imp_mm, variables.L_upor});
    connect(load_.get(), &JobLoad::progressed, this, &JobLoading::changed);
    connect(load_.get(), &JobLoad::finished, this, &JobLoading::finished);
    emit changed();
}

void JobLoading::cancel() {
    if (!load_) {
        return;
    }
    // Ends at its next few thousand lines; nothing of it stays, the file keeps its name.
    const std::string file = fileNameOf(*load_);
    load_.reset();
    log_.append(cp1251("Загрузка ") + file + cp1251(" прервана: консоль закрывается"));
}

void JobLoading::finished() {
    const std::unique_ptr<JobLoad> load = std::move(load_);
    const JobLoad::Outcome& outcome = load->outcome();
    const JobImportReport& report = load->progress();
    const std::string file = fileNameOf(*load);
    char took[32];
    std::snprintf(took, sizeof took, "%.1f", outcome.took.count());
    if (outcome.error) {
        log_.append(cp1251("Загрузка ") + file + cp1251(" не удалась за ") + took +
                    cp1251(" с, прочитано строк: ") + std::to_string(report.lines));
    } else {
        for (const std::string& notice : report.notices) {
            log_.append(notice);
        }
        log_.append(cp1251("Загружен ") + file + cp1251(": строк ") + std::to_string(report.lines) +
                    cp1251(", деталей ") + std::to_string(report.pieces) + cp1251(", отверстий ") +
                    std::to_string(report.holes) + cp1251(", заменено деталей прежних загрузок: ") +
                    std::to_string(report.superseded) + ", " + took + cp1251(" с"));
    }
    SettingsChange change;
    change.kind = ChangeKind::JobFile;
    change.outcome = outcome.error ? ChangeOutcome::Failed : ChangeOutcome::Loaded;
    change.subject = file;
    change.message = outcome.error.value_or("");
    if (!report.contentHash.empty()) {
        change.contentHash = report.contentHash;
    }
    if (!outcome.error) {  // a failed load leaves nothing of its pieces
        change.pieces = report.pieces;
        change.superseded = report.superseded;
    }
    noted_(std::move(change));
    emit changed();
    emit ended(outcome.error);
}

}  // namespace velkor
