// The start-up procedure.

#ifndef KAV_APP_KAV_MAIN_H_
#define KAV_APP_KAV_MAIN_H_

// Asks the start-up confirmation; on Yes shows the start window modally and
// returns when it is closed.
void Main();

#endif  // KAV_APP_KAV_MAIN_H_
