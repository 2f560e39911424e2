#pragma once

namespace velto {

// Makes the addresses StreamHeads gives playable: a source that serves a song from its head
// fetched ahead and fetches the rest by byte ranges while the head plays. Registered in this
// process only, once.
void registerStreamHeadSource();

}  // namespace velto
