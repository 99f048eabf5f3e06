#include "fake_platform.h"

#include <stdexcept>

#include "core/frmDoredAviro.h"

namespace doredaviro::testing {

FakePlatform::FakePlatform() {
    for (const ControlDef& def : kControls) {
        props[{def.control, Prop::Left}] = def.left;
        props[{def.control, Prop::Top}] = def.top;
        props[{def.control, Prop::Width}] = def.width;
        props[{def.control, Prop::Height}] = def.height;
    }
}

void FakePlatform::MsgBox(const std::string& prompt, MessageStyle style, const std::string& title) {
    msgBoxes.push_back({prompt, style, title});
    log.push_back("MsgBox " + prompt);
    if (onMsgBox) onMsgBox(msgBoxes.back());
}

std::string FakePlatform::FindFile(const std::string& path) {
    log.push_back("FindFile " + path);
    if (files.count(path) == 0) return {};
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void FakePlatform::End(int status) {
    ++ends;
    endStatus = status;
    log.push_back("End " + std::to_string(status));
}

HandOverResult FakePlatform::HandOverToRunningCopy(const std::vector<std::string>& paths, int) {
    handedOver.push_back(paths);
    log.push_back("HandOver " + std::to_string(paths.size()));
    return handOverResult;
}

Launched FakePlatform::Launch(const std::string& tool, const std::string& path,
                              const std::string& folder) {
    launches.push_back({tool, path, folder});
    log.push_back("Launch " + path);
    if (launchSucceeds && !launchSucceeds(launches.back())) return {};
    return {true, ++lastProcess};
}

void FakePlatform::Unload() {
    ++unloads;
    log.push_back("Unload");
}

float FakePlatform::Get(Control control, Prop prop) { return props.at({control, prop}); }

void FakePlatform::Let(Control control, Prop prop, float twips) {
    if (control == Control::lstFileList && prop == Prop::Height && listHeightReadBack) {
        twips = listHeightReadBack(twips);
    }
    props[{control, prop}] = twips;
}

std::string FakePlatform::ListText(int row) { return rows.at(static_cast<std::size_t>(row)); }

void FakePlatform::ListSelect(int row) {
    if (row < -1 || row >= ListCount()) throw std::out_of_range("ListSelect");
    selected = row;
}

void FakePlatform::ListInsertTop(const std::vector<std::string>& newRows) {
    rows.insert(rows.begin(), newRows.begin(), newRows.end());
    if (selected >= 0) selected += static_cast<int>(newRows.size());
    log.push_back("Insert " + std::to_string(newRows.size()));
}

void FakePlatform::ListRemove(int first, int count) {
    if (first < 0 || count < 1 || first + count > ListCount()) {
        throw std::out_of_range("ListRemove");
    }
    rows.erase(rows.begin() + first, rows.begin() + first + count);
    if (selected >= first + count) {
        selected -= count;
    } else if (selected >= first) {
        selected = -1;
    }
    log.push_back("Remove " + std::to_string(first) + " " + std::to_string(count));
}

void FakePlatform::ShowProgress(int done, int total) {
    progress.emplace_back(done, total);
    log.push_back("Progress " + std::to_string(done) + "/" + std::to_string(total));
}

void FakePlatform::PumpEvents() {
    ++pumps;
    if (onPump) onPump();
}

}  // namespace doredaviro::testing
