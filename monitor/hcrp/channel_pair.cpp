// Placeholder until the channel pair is built.
#include "hcrp/hcrp_connection.h"

int HcrpConnection::Connect() { return 0; }
int HcrpConnection::Disconnect() { return 1; }
void __cdecl HcrpConnection::OnControlEvent(const ChannelEvent*) {}
void __cdecl HcrpConnection::OnDataEvent(const ChannelEvent*) {}
