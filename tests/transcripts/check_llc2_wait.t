SPDX-License-Identifier: Apache-2.0
check_llc2's timeout when -t is not given, 10 s: an llc2 that does not
answer is ended after the whole of it, not sooner, and the state is
UNKNOWN. It waits on purpose.

  $ mkdir bin && printf '#!/bin/sh\necho $$ >llc2.pid\nexec sleep 60\n' >bin/llc2
  $ chmod +x bin/llc2 && start=$(date +%s)
  $ sh "$LLC2_BUILD/monitoring/check_llc2" -l bin/llc2
  LLC2 UNKNOWN - llc2 did not answer within 10 s
  [3]
  $ [ $(($(date +%s) - start)) -ge 10 ] && echo waited the whole timeout
  waited the whole timeout
  $ kill -0 "$(cat llc2.pid)" 2>/dev/null || echo ended
  ended
