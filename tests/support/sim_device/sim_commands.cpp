// The simulated device's command set. Numbers in payloads are big-endian.
// Where the real device's behaviour is not known the simulator keeps to the
// least it can do and says so here:
//  - errors (unknown file, wrong kind of file, out-of-order piece) answer with
//    status 1 and no payload;
//  - listing and metadata pages start with the two bytes of
//    SimState::pagePrefix, which the editor skips;
//  - a metadata set replaces the whole text;
//  - only user files (flag 10) can be deleted; a deletion is answered first
//    and then announced with event 0A <id little-endian>.
#include <algorithm>

#include "support/sim_device/sim_device.h"

namespace zandrel::test {
namespace {

uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>((b[at] << 8) | b[at + 1]); }

uint32_t U32(const Bytes& b, size_t at) {
  return (static_cast<uint32_t>(b[at]) << 24) | (static_cast<uint32_t>(b[at + 1]) << 16) |
         (static_cast<uint32_t>(b[at + 2]) << 8) | b[at + 3];
}

void Put16(Bytes& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}

void Put32(Bytes& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

void PutName(Bytes& out, const std::string& name) {
  out.insert(out.end(), name.begin(), name.end());
  out.push_back(0);
}

Bytes PagePrefix(const SimState& state) { return {state.pagePrefix[0], state.pagePrefix[1]}; }

// 01 01 <u32 offer>  ->  00 <u32 maximum message size>
std::optional<SimReply> Init(const SimRequest& request, SimState& state) {
  if (request.payload.size() < 6) return SimReply::Error();
  Bytes payload = {0x00};
  Put32(payload, state.maxMessageSize);
  return SimReply::Ok(payload);
}

// 04 <u16 page> <u16 directory>  ->  prefix, entries (u16 id, flags, u32 size,
// name, 00); a page past the end holds the prefix only.
std::optional<SimReply> List(const SimRequest& request, SimState& state) {
  if (request.payload.size() < 5) return SimReply::Error();
  const uint16_t page = U16(request.payload, 1);
  const SimFile* dir = state.files.Find(U16(request.payload, 3));
  if (!dir || !dir->IsDirectory()) return SimReply::Error();
  const std::vector<const SimFile*> children = state.files.Children(dir->id);
  Bytes payload = PagePrefix(state);
  const size_t per = std::max<size_t>(1, state.listEntriesPerPage);
  for (size_t i = page * per; i < children.size() && i < (page + 1) * per; ++i) {
    Put16(payload, children[i]->id);
    payload.push_back(children[i]->flags);
    Put32(payload, children[i]->size);
    PutName(payload, children[i]->name);
  }
  return SimReply::Ok(payload);
}

// 0B <u16 id>  ->  u16 id, u16 parent, flags, u32 size, name, 00
std::optional<SimReply> FileInfo(const SimRequest& request, SimState& state) {
  if (request.payload.size() < 3) return SimReply::Error();
  const SimFile* file = state.files.Find(U16(request.payload, 1));
  if (!file || file->id == kSimRootDir) return SimReply::Error();
  Bytes payload;
  Put16(payload, file->id);
  Put16(payload, file->parent);
  payload.push_back(file->flags);
  Put32(payload, file->size);
  PutName(payload, file->name);
  return SimReply::Ok(payload);
}

// 05 01 <u16 id> <u32 0> <u32 0>  ->  empty
std::optional<SimReply> Select(const SimRequest& request, SimState& state) {
  if (request.payload.size() < 4) return SimReply::Error();
  state.lastSelected = U16(request.payload, 2);
  ++state.selectCount;
  return SimReply::Ok();
}

// 06 <u16 id>  ->  empty; then event 0A <id LE>
std::optional<SimReply> Delete(const SimRequest& request, SimState& state) {
  if (request.payload.size() < 3) return SimReply::Error();
  const uint16_t id = U16(request.payload, 1);
  const SimFile* file = state.files.Find(id);
  if (!file || file->IsDirectory() || !(file->flags & kSimFlagUser)) return SimReply::Error();
  state.files.Remove(id);
  SimReply reply = SimReply::Ok();
  if (state.eventOnDelete) {
    reply.eventsAfter.push_back({0x0A, static_cast<uint8_t>(id & 0xFF), static_cast<uint8_t>(id >> 8)});
  }
  return reply;
}

// 07 02 <u16 id> <u16 page>  ->  prefix, the page's share of text + 00
// 07 01 <u16 id> text 00     ->  empty
// 07 04 00 <u16 id> <u32 length>, 07 04 01 <u16 index> piece, ...,
// 07 04 01 <u16 count> (no data: the end marker)  ->  empty each
std::optional<SimReply> Metadata(const SimRequest& request, SimState& state) {
  const Bytes& p = request.payload;
  if (p.size() < 2) return SimReply::Error();
  switch (p[1]) {
    case 0x02: {
      if (p.size() < 6) return SimReply::Error();
      const SimFile* file = state.files.Find(U16(p, 2));
      if (!file) return SimReply::Error();
      const std::string stored = file->metadata + '\0';
      const size_t per = std::max<size_t>(1, state.metadataPageBytes);
      const size_t from = std::min(stored.size(), U16(p, 4) * per);
      const size_t to = std::min(stored.size(), from + per);
      Bytes payload = PagePrefix(state);
      payload.insert(payload.end(), stored.begin() + static_cast<ptrdiff_t>(from),
                     stored.begin() + static_cast<ptrdiff_t>(to));
      return SimReply::Ok(payload);
    }
    case 0x01: {
      if (p.size() < 4) return SimReply::Error();
      SimFile* file = state.files.Find(U16(p, 2));
      if (!file) return SimReply::Error();
      const auto text = p.begin() + 4;
      file->metadata.assign(text, std::find(text, p.end(), uint8_t{0}));
      return SimReply::Ok();
    }
    case 0x04: {
      auto& paged = state.pagedMetadata;
      if (p.size() >= 9 && p[2] == 0x00) {
        if (!state.files.Find(U16(p, 3))) return SimReply::Error();
        paged = {true, U16(p, 3), U32(p, 5), 0, {}};
        return SimReply::Ok();
      }
      if (p.size() < 5 || p[2] != 0x01 || !paged.active || U16(p, 3) != paged.nextPiece) {
        paged.active = false;
        return SimReply::Error();
      }
      if (p.size() == 5) {  // the end marker
        paged.active = false;
        SimFile* file = state.files.Find(paged.file);
        if (!file || paged.text.size() != paged.length) return SimReply::Error();
        file->metadata = paged.text;
        return SimReply::Ok();
      }
      paged.text.append(p.begin() + 5, p.end());
      ++paged.nextPiece;
      return SimReply::Ok();
    }
    default: return SimReply::Error();
  }
}

}  // namespace

void RegisterStandardCommands(SimDevice& device) {
  device.SetHandler(kSimCmdInit, Init);
  device.SetHandler(kSimCmdList, List);
  device.SetHandler(kSimCmdFileInfo, FileInfo);
  device.SetHandler(kSimCmdSelect, Select);
  device.SetHandler(kSimCmdDelete, Delete);
  device.SetHandler(kSimCmdMetadata, Metadata);
}

}  // namespace zandrel::test
