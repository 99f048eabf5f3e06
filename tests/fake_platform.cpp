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

HandOverResult FakePlatform::HandOverToRunningCopy(const std::vector<std::string>& paths) {
    handedOver.push_back(paths);
    log.push_back("HandOver " + std::to_string(paths.size()));
    return handOverResult;
}

bool FakePlatform::Launch(const std::string& tool, const std::string& path,
                          const std::string& folder) {
    launches.push_back({tool, path, folder});
    log.push_back("Launch " + path);
    return launchSucceeds ? launchSucceeds(launches.back()) : true;
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

void FakePlatform::ListSetSelected(int row, bool isSelected) {
    if (row < 0 || row >= ListCount()) throw std::out_of_range("ListSetSelected");
    if (isSelected) {
        selected = row;
    } else if (selected == row) {
        selected = -1;
    }
}

std::string FakePlatform::ListText() {
    return selected < 0 ? std::string() : rows.at(static_cast<std::size_t>(selected));
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

void FakePlatform::BatchProgress(int done, int total) { progress.emplace_back(done, total); }

}  // namespace doredaviro::testing
