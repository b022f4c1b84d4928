# Hosts on one bridge, so that multicast travels between hosts on one
# machine: sourced by a script that already runs in a private network
# namespace (scripts/in-netns), whose routes it changes. Every address is
# from 192.0.2.0/24, kept for documentation.
#   lan_up N            a bridge br0 holding 192.0.2.1/24 in this namespace,
#                       and hosts 1..N, each a network namespace of its own
#                       with the far end of a veth pair on the bridge,
#                       192.0.2.1N/24 and the multicast route
#   lan_start N CMD...  CMD in the background in host N's network namespace,
#                       its process in $lan_pid; under Wine (WINEPREFIX set)
#                       with a copy of the prefix made for that host, so that
#                       its wineserver, where its sockets live, starts there
#   lan_down            stops the hosts' wineservers and the hosts
lan_hosts=()
lan_up() {
  ip link add br0 type bridge &&
    ip address add 192.0.2.1/24 dev br0 &&
    ip link set br0 up || return 1
  local i
  for ((i = 1; i <= $1; i++)); do
    unshare --net sleep 600 &
    lan_hosts+=($!)
    # Until the process has its namespace, moving a link to it moves nothing.
    for _ in $(seq 50); do
      [ "$(readlink "/proc/$!/ns/net")" != "$(readlink /proc/self/ns/net)" ] && break
      sleep 0.1
    done
    ip link add "lan$i" type veth peer name eth0 netns "$!" &&
      ip link set "lan$i" master br0 up &&
      nsenter -t "$!" -n sh -c "ip link set lo up && ip address add 192.0.2.1$i/24 dev eth0 &&
        ip link set eth0 up && ip route add 224.0.0.0/4 dev eth0" || return 1
  done
}
lan_start() {
  local host=$1 prefix=()
  shift
  if [ -n "${WINEPREFIX:-}" ]; then
    # Copied while the prefix's own server runs: its registry as last saved.
    [ -d "$WINEPREFIX.host$host" ] ||
      "$(dirname "${BASH_SOURCE[0]}")/copy-wine-prefix" "$WINEPREFIX" "$WINEPREFIX.host$host"
    prefix=(env WINEPREFIX="$WINEPREFIX.host$host")
  fi
  nsenter -t "${lan_hosts[host - 1]}" -n "${prefix[@]}" "$@" &
  lan_pid=$!
}
lan_down() {
  local i
  for ((i = 1; i <= ${#lan_hosts[@]}; i++)); do
    if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX.host$i" ]; then
      WINEPREFIX=$WINEPREFIX.host$i wineserver -k 2>/dev/null
      rm -rf "$WINEPREFIX.host$i"
    fi
  done
  [ ${#lan_hosts[@]} -eq 0 ] || kill "${lan_hosts[@]}" 2>/dev/null
  lan_hosts=()
}
