# Checks on Linux the sign tuples that the tests under Wine print; source
# this file (it calls the caller's `fail`).
#
#   signing_prepare <folder> <tellvane command>
#       writes there what the tests sign: text.txt (the short text of
#       signer32.js, UTF-8), mebibyte.txt (its 1 MiB text) and sets
#       signing_digests[<algorithm>], the Base64 digest of text.txt for a
#       key of that algorithm (2001: GOST R 34.11-94; 2012-256, 2012-512:
#       Streebog)
#   signing_verify <what> <algorithm> <thumbprint> <test output>
#       each "TUPLE <engine>-<name> <Base64>" line of the output, where the
#       name says what was signed: text and digest stand for text.txt,
#       mebibyte for mebibyte.txt. Each tuple must hold a signature of the
#       algorithm's size (64 bytes, 128 for 2012-512) and the certificate of
#       the thumbprint, and be verified twice: by OpenSSL's GOST engine (the
#       signature reversed into RFC 4491's s || r) and by `tellvane verify`.
#       Prints how many were checked, and adds them to signing_checked.

# OpenSSL's digest of each key algorithm.
declare -A signing_hashes=([2001]=md_gost94 [2012-256]=md_gost12_256 [2012-512]=md_gost12_512)
declare -A signing_digests

signing_prepare() {
  signing_folder=$1 signing_tellvane=$2
  signing_text='Договор №1 от 7 декабря — подпись 😀'
  printf '%s' "$signing_text" >"$signing_folder/text.txt"
  local mebibyte=$'Жж0123456789a\n' i
  for i in {1..16}; do mebibyte+=$mebibyte; done
  printf '%s' "$mebibyte" >"$signing_folder/mebibyte.txt"
  local algorithm
  for algorithm in "${!signing_hashes[@]}"; do
    signing_digests[$algorithm]=$(openssl dgst -engine gost "-${signing_hashes[$algorithm]}" -binary \
      "$signing_folder/text.txt" 2>/dev/null | base64 -w0)
    # Two digests, each computed without the component, agree.
    [ "$("$signing_tellvane" digest --algorithm "$algorithm" --file "$signing_folder/text.txt")" = \
      "${signing_digests[$algorithm]}" ] || fail "OpenSSL and tellvane digest disagree on text.txt ($algorithm)"
  done
}

# Bytes of a file as hexadecimal, one line: <file> [<offset> <count>]
signing_hex() {
  od -An -tx1 -v ${2:+-j "$2" -N "$3"} "$1" | tr -d ' \n'
}

signing_verify_one() {  # <what> <algorithm> <thumbprint> <name> <Base64 tuple>
  local what=$1 algorithm=$2 name=$4 tuple=$signing_folder/tuple.bin size certificate_size file text reversed
  local signature_size=64
  [ "$algorithm" != 2012-512 ] || signature_size=128
  text=${name#*-}
  case "$text" in
    text | digest) file=$signing_folder/text.txt ;;
    mebibyte) file=$signing_folder/mebibyte.txt ;;
    *) fail "$what: unknown tuple $name"; return ;;
  esac
  base64 -d <<<"$5" >"$tuple" 2>/dev/null || { fail "$what $name: not Base64"; return; }
  [ "$(signing_hex "$tuple" 0 12)" = 5349474e44415441$(printf %02x "$signature_size")000000 ] ||
    { fail "$what $name: no SIGN DATA and $signature_size-byte signature at its start"; return; }
  certificate_size=$(od -An -tu4 -j $((12 + signature_size)) -N 4 "$tuple" 2>/dev/null | tr -d ' ')
  size=$(stat -c %s "$tuple")
  [ "$size" -eq $((16 + signature_size + ${certificate_size:-0})) ] ||
    { fail "$what $name: $size bytes, certificate of $certificate_size"; return; }
  tail -c "$certificate_size" "$tuple" >"$signing_folder/certificate.der"
  [ "$(sha1sum <"$signing_folder/certificate.der" | cut -c1-40 | tr a-f A-F)" = "$3" ] ||
    fail "$what $name: the tuple holds another certificate"

  # OpenSSL: the signature's bytes reversed are s || r.
  reversed=$(signing_hex "$tuple" 12 "$signature_size" | sed 's/../&\n/g' | tac | tr -d '\n')
  printf '%b' "$(sed 's/../\\x&/g' <<<"$reversed")" >"$signing_folder/signature.bin"
  openssl x509 -engine gost -inform DER -in "$signing_folder/certificate.der" -pubkey -noout \
    >"$signing_folder/public.pem" 2>/dev/null
  openssl dgst -engine gost "-${signing_hashes[$algorithm]}" -binary "$file" >"$signing_folder/digest.bin" 2>/dev/null
  openssl pkeyutl -engine gost -verify -pubin -inkey "$signing_folder/public.pem" -in "$signing_folder/digest.bin" \
    -sigfile "$signing_folder/signature.bin" >/dev/null 2>&1 || fail "$what $name: OpenSSL's GOST engine refuses it"

  if [ "$text" = digest ]; then
    "$signing_tellvane" verify --digest "${signing_digests[$algorithm]}" "$5" >/dev/null ||
      fail "$what $name: tellvane verify refuses it"
  else
    "$signing_tellvane" verify --file "$file" "$5" >/dev/null || fail "$what $name: tellvane verify refuses it"
  fi
}

signing_verify() {
  local what=$1 algorithm=$2 thumbprint=$3 line name tuple count=0
  while read -r line name tuple; do
    [ "$line" = TUPLE ] || continue
    signing_verify_one "$what" "$algorithm" "$thumbprint" "$name" "${tuple%$'\r'}"
    count=$((count + 1))
  done <<<"$4"
  echo "$what: $count sign tuples checked by OpenSSL's GOST engine and tellvane verify"
  signing_checked=$((signing_checked + count))
}
signing_checked=0
