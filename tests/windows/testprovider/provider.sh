# Shell helpers for the test GOST provider in a Wine prefix; source this file.
# A Windows tool runs as "<loader> <system folder>\<tool>.exe": the 64-bit
# loader with system32 registers the x64 provider for 64-bit programs, the
# 32-bit loader with syswow64 the x86 one for 32-bit programs.
#
#   testprovider_register <loader> <system> <provider DLL> <key folder> [<type>]
#   testprovider_unregister <loader> <system> [<type>]
#   testprovider_pin_answer <loader> <system> <type> [<answer>]
#                                                          what the user answers when
#                                                          asked for a PIN (none: cancels)
#   testprovider_container <OpenSSL key> [<PIN>] [<OpenSSL signature key>]
#                                                          a container file, on standard output
#
# Paths given to Windows are Windows paths (Z:\...). The provider's name is
# the one the test certificates' key information names; a provider type is
# one more entry here and one more row in gost.cpp.

declare -A testprovider_names=([75]="Tellvane GOST R 34.10-2001 Provider"
  [80]="Tellvane GOST R 34.10-2012 (256) Provider" [81]="Tellvane GOST R 34.10-2012 (512) Provider")

testprovider_key() {  # <type>: the provider's registry key
  echo "HKLM\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\${testprovider_names[$1]}"
}
testprovider_type_key() {  # <type>: the key naming the default provider of the type
  printf 'HKLM\\Software\\Microsoft\\Cryptography\\Defaults\\Provider Types\\Type %03d' "$1"
}

# The provider, and the default one of its type (for calls that name none).
testprovider_register() {
  local loader=$1 system=$2 dll=$3 folder=$4 type=${5:-75} key
  key=$(testprovider_key "$type")
  "$loader" "$system\\reg.exe" add "$key" /v "Image Path" /t REG_SZ /d "$dll" /f >/dev/null &&
    "$loader" "$system\\reg.exe" add "$key" /v Type /t REG_DWORD /d "$type" /f >/dev/null &&
    "$loader" "$system\\reg.exe" add "$key" /v "Key Folder" /t REG_SZ /d "$folder" /f >/dev/null &&
    "$loader" "$system\\reg.exe" add "$(testprovider_type_key "$type")" /v Name /t REG_SZ \
      /d "${testprovider_names[$type]}" /f >/dev/null
}

testprovider_unregister() {
  "$1" "$2\\reg.exe" delete "$(testprovider_key "${3:-75}")" /f >/dev/null &&
    "$1" "$2\\reg.exe" delete "$(testprovider_type_key "${3:-75}")" /f >/dev/null
}

testprovider_pin_answer() {
  local key
  key=$(testprovider_key "$3")
  if [ $# -ge 4 ]; then
    "$1" "$2\\reg.exe" add "$key" /v "PIN Answer" /t REG_SZ /d "$4" /f >/dev/null
  else
    "$1" "$2\\reg.exe" delete "$key" /v "PIN Answer" /f >/dev/null 2>&1 || true
  fi
}

# One key of a container: its curve by object identifier (decoded from the
# DER of the parameter set that the key names first) and its private value.
testprovider_key_entry() {  # <key spec name> <OpenSSL key> [<PIN>]
  local der place hex oid first value=0 i byte d
  der=$(mktemp)
  # "   17:d=3  hl=2 l=   7 prim: OBJECT": offset, header and body lengths
  place=($(openssl asn1parse -in "$2" -out "$der" |
    sed -n '/d=3 .*OBJECT/{s/^ *\([0-9]*\):.*hl= *\([0-9]*\) *l= *\([0-9]*\).*/\1 \2 \3/p;q}'))
  hex=$(od -An -tx1 -v -j $((place[0] + place[1])) -N "${place[2]}" "$der" | tr -d ' \n')
  rm -f "$der"
  first=$((16#${hex:0:2}))
  oid="$((first / 40)).$((first % 40))"
  for ((i = 2; i < ${#hex}; i += 2)); do
    byte=$((16#${hex:i:2}))
    value=$(((value << 7) | (byte & 127)))
    ((byte & 128)) || { oid+=".$value"; value=0; }
  done
  d=$(openssl pkey -engine gost -in "$2" -text -noout 2>/dev/null | sed -n 's/^Private key: *//p')
  [ -n "$d" ] || return 1
  printf ' (%s (curve "%s") (d "%s")%s)' "$1" "$oid" "$d" "${3:+ (pin \"$3\")}"
}

testprovider_container() {
  local exchange signature=""
  exchange=$(testprovider_key_entry exchange "$1" "${2:-}") || return 1
  if [ -n "${3:-}" ]; then signature=$(testprovider_key_entry signature "$3") || return 1; fi
  printf '(container%s%s)\n' "$exchange" "$signature"
}
