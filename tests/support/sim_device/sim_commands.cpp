// The simulated device's command set. Numbers in payloads are big-endian.
// Where the real device's behaviour is not known the simulator keeps to the
// least it can do and says so here:
//  - errors (unknown file, wrong kind of file, out-of-order piece) answer with
//    status 1 and no payload;
//  - listing and metadata pages start with the two bytes of
//    SimState::pagePrefix, which the editor skips;
//  - a metadata set replaces the whole text;
//  - only user files (flag 10) can be deleted; a deletion is answered first
//    and then announced with event 0A <id little-endian>;
//  - a read init answers 00 <u16 id> <u32 size>; read pages start with
//    SimState::pagePrefix and hold SimState::readPageBytes of data, a page
//    past the end holds the prefix only;
//  - a preview treats the file as mono 16-bit audio and sends, per point,
//    the lowest and the highest sample of its stride (int16 little-endian);
//  - a project directory's data is its archive: reading the project sends
//    it, a project upload replaces it (no unpacking);
//  - an upload is committed by its end marker when every chunk came in
//    order and the sizes agree: a sound becomes a user file of the parent
//    directory, named as sent, with the init JSON as its metadata.
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

// Per point, the lowest and highest sample of the stride's frames.
Bytes Preview(const Bytes& pcm, uint16_t stride, uint16_t points) {
  const size_t frames = pcm.size() / 2;
  const size_t step = std::max<size_t>(1, stride);
  const auto sample = [&](size_t i) { return static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8)); };
  Bytes out;
  for (size_t point = 0; point < points; ++point) {
    const size_t from = std::min(frames, point * step);
    const size_t to = std::min(frames, from + step);
    int16_t low = from < to ? sample(from) : 0;
    int16_t high = low;
    for (size_t i = from; i < to; ++i) {
      low = std::min(low, sample(i));
      high = std::max(high, sample(i));
    }
    for (const int16_t v : {low, high}) {
      out.push_back(static_cast<uint8_t>(v & 0xFF));
      out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
  }
  return out;
}

// 03 00 <u16 id> <u32 0> [8 x 00, 01, <u16 stride>, <u16 points>]  ->
// 00 <u16 id> <u32 size>;  03 01 <u16 page>  ->  prefix, the page's data
std::optional<SimReply> Read(const SimRequest& request, SimState& state) {
  const Bytes& p = request.payload;
  if (p.size() < 4) return SimReply::Error();
  if (p[1] == 0x00) {
    state.read.active = false;
    const SimFile* file = p.size() >= 8 ? state.files.Find(U16(p, 2)) : nullptr;
    if (!file) return SimReply::Error();
    const bool preview = p.size() >= 21 && p[16] == 0x01;
    state.read.bytes = preview ? Preview(file->data, U16(p, 17), U16(p, 19)) : file->data;
    state.read.active = true;
    Bytes payload = {0x00};
    Put16(payload, file->id);
    Put32(payload, static_cast<uint32_t>(state.read.bytes.size()));
    return SimReply::Ok(payload);
  }
  if (p[1] != 0x01 || !state.read.active) return SimReply::Error();
  const Bytes& bytes = state.read.bytes;
  const size_t per = std::max<size_t>(1, state.readPageBytes);
  const size_t from = std::min(bytes.size(), U16(p, 2) * per);
  const size_t to = std::min(bytes.size(), from + per);
  Bytes payload = PagePrefix(state);
  payload.insert(payload.end(), bytes.begin() + static_cast<ptrdiff_t>(from), bytes.begin() + static_cast<ptrdiff_t>(to));
  return SimReply::Ok(payload);
}

std::string NameAt(const Bytes& p, size_t& at) {
  const auto begin = p.begin() + static_cast<ptrdiff_t>(std::min(at, p.size()));
  const auto end = std::find(begin, p.end(), uint8_t{0});
  at = static_cast<size_t>(end - p.begin()) + 1;
  return std::string(begin, end);
}

SimReply CommitUpload(SimState& state) {
  auto& up = state.upload;
  if (up.kind == 5) {
    SimFile file;
    file.id = up.target;
    file.parent = up.parent;
    file.flags = kSimFlagUser;
    file.size = static_cast<uint32_t>(up.data.size());
    file.name = up.name;
    file.metadata = up.json;
    file.data = std::move(up.data);
    state.files.Add(std::move(file));
  } else if (SimFile* project = state.files.Find(up.target)) {
    project->data = std::move(up.data);
  } else {
    state.files.AddDirectory(up.target, up.parent, up.name).data = std::move(up.data);
  }
  ++state.uploadsCommitted;
  SimReply reply = SimReply::Ok();
  if (up.kind == 5 && state.eventOnUpload) {
    Bytes event = {0x03, static_cast<uint8_t>(up.target & 0xFF), static_cast<uint8_t>(up.target >> 8)};
    PutName(event, up.name);
    reply.eventsAfter.push_back(std::move(event));
  }
  return reply;
}

// 02 00 <kind> <u16 target> <u16 parent> <u32 size> name 00 [json 00]  ->  empty
// 02 01 <u16 index> data  ->  empty;  02 01 <u16 count> (the end marker)  ->  empty
std::optional<SimReply> Upload(const SimRequest& request, SimState& state) {
  const Bytes& p = request.payload;
  auto& up = state.upload;
  if (p.size() >= 12 && p[1] == 0x00) {
    up = {};
    const SimFile* parent = state.files.Find(U16(p, 5));
    if ((p[2] != 5 && p[2] != 2) || !parent || !parent->IsDirectory()) return SimReply::Error();
    up.kind = p[2];
    up.target = U16(p, 3);
    up.parent = U16(p, 5);
    up.size = U32(p, 7);
    size_t at = 11;
    up.name = NameAt(p, at);
    if (up.kind == 5) up.json = NameAt(p, at);
    up.active = true;
    return SimReply::Ok();
  }
  if (p.size() < 4 || p[1] != 0x01 || !up.active || U16(p, 2) != up.nextChunk) {
    up.active = false;
    return SimReply::Error();
  }
  if (p.size() == 4) {  // the end marker
    up.active = false;
    if (up.data.size() != up.size) return SimReply::Error();
    return CommitUpload(state);
  }
  up.data.insert(up.data.end(), p.begin() + 4, p.end());
  ++up.nextChunk;
  if (up.data.size() > up.size) {
    up.active = false;
    return SimReply::Error();
  }
  return SimReply::Ok();
}

}  // namespace

void RegisterStandardCommands(SimDevice& device) {
  device.SetHandler(kSimCmdRead, Read);
  device.SetHandler(kSimCmdUpload, Upload);
  device.SetHandler(kSimCmdInit, Init);
  device.SetHandler(kSimCmdList, List);
  device.SetHandler(kSimCmdFileInfo, FileInfo);
  device.SetHandler(kSimCmdSelect, Select);
  device.SetHandler(kSimCmdDelete, Delete);
  device.SetHandler(kSimCmdMetadata, Metadata);
}

}  // namespace zandrel::test
