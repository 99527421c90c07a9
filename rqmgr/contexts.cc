#include "contexts.h"

#include <cstdio>

namespace qlm::rqmgr {

std::string Contexts::newHandle(CtxKind kind) {
  char text[16];
  counter_ = counter_ % 999999999u + 1;
  std::snprintf(text, sizeof text, "%c%09u", static_cast<char>(kind), counter_);
  return text;
}

const Context *Contexts::find(int client, CtxKind kind, const std::string &handle) const {
  auto it = byHandle_.find(handle);
  if (it == byHandle_.end() || it->second.client != client || it->second.kind != kind) return nullptr;
  return &it->second;
}

const Context *Contexts::agentOf(const std::string &projectHandle, CtxKind kind) const {
  for (const auto &[h, c] : byHandle_)
    if (c.kind == kind && c.projectHandle == projectHandle) return &c;
  return nullptr;
}

std::vector<std::string> Contexts::close(const std::string &handle) {
  std::vector<std::string> closed;
  auto it = byHandle_.find(handle);
  if (it == byHandle_.end()) return closed;
  if (it->second.kind == CtxKind::Project) {
    for (auto a = byHandle_.begin(); a != byHandle_.end();) {
      if (a->second.kind != CtxKind::Project && a->second.projectHandle == handle) {
        closed.push_back(a->first);
        a = byHandle_.erase(a);
      } else {
        ++a;
      }
    }
  }
  closed.push_back(handle);
  byHandle_.erase(handle);
  return closed;
}

std::vector<std::string> Contexts::closeWhere(bool (*match)(const Context &, int, std::int64_t), int client,
                                              std::int64_t project) {
  std::vector<std::string> projects;
  for (const auto &[h, c] : byHandle_)
    if (c.kind == CtxKind::Project && match(c, client, project)) projects.push_back(h);
  for (const std::string &h : projects) close(h);
  return projects;
}

std::vector<std::string> Contexts::closeClient(int client) {
  return closeWhere([](const Context &c, int cl, std::int64_t) { return c.client == cl; }, client, 0);
}

std::vector<std::string> Contexts::closeProject(int client, std::int64_t project) {
  return closeWhere([](const Context &c, int cl, std::int64_t p) { return c.client == cl && c.project == p; }, client,
                    project);
}

std::vector<std::string> Contexts::handlesOf(int client, CtxKind kind) const {
  std::vector<std::string> out;
  for (const auto &[h, c] : byHandle_)
    if (c.client == client && c.kind == kind) out.push_back(h);
  return out;
}

bool Contexts::openByOther(std::int64_t project, int client) const {
  for (const auto &[h, c] : byHandle_)
    if (c.kind == CtxKind::Project && c.project == project && c.client != client) return true;
  return false;
}

bool Contexts::isOpen(std::int64_t project) const {
  for (const auto &[h, c] : byHandle_)
    if (c.kind == CtxKind::Project && c.project == project) return true;
  return false;
}

}  // namespace qlm::rqmgr
