#!/usr/bin/env bash
# End to end, inside scripts/headless-session: a dictated note appears in the vault as
# its Markdown file; renaming it on the service renames the file on the next pass;
# archiving it removes the file.
#   vault-e2e.sh BUILD_DIR SOURCE_DIR
set -u
BUILD_DIR="$1" SOURCE_DIR="$2"
source "$SOURCE_DIR/tests/e2e/e2e-lib.sh"

start_all
speech bank "please call the bank tomorrow morning"
speech milk "remind me to buy milk and bread"
speech lunch "send the report to the team before lunch"
notes="$work/vault/Notes"

# The service as a user's browser would change it.
token=$(curl -s -X POST -H 'apikey: larkspire-dev-anon-key' -H 'Content-Type: application/json' \
  -d '{"email":"e2e@example.com","password":"e2e-secret"}' \
  "$service_url/auth/v1/token?grant_type=password" | sed -n 's/.*"access_token":"\([^"]*\)".*/\1/p')
patch_note() {  # patch_note ID JSON
  curl -s -X PATCH -H "Authorization: Bearer $token" -H 'Content-Type: application/json' -d "$2" \
    "$service_url/api/notes/$1" >/dev/null
}
note_files() { find "$notes" -maxdepth 1 -name '*.md' -printf '%f\n' 2>/dev/null | sort; }
has_file() { note_files | grep -q -- "$1"; }
lacks_file() { ! note_files | grep -q -- "$1"; }

focus_target
dictate "$work/bank.wav"
wait_until 20 has_file "Please call the bank tomorrow morning"
check "a dictated note appears as its Markdown file ($(note_files | tr '\n' ' '))" \
  has_file "Please call the bank tomorrow morning"
file=$(note_files | grep "Please call the bank" | head -1)
id=$(sed -n 's/^id: *//p' "$notes/$file" | head -1 | tr -d '"')
check "the file names its note's id in its front matter ($id)" test -n "$id"
check "the file name carries the id's first 8 characters" has_file "${id:0:8}"

# Rename on the service; the next pass (after the next dictation) renames the file.
patch_note "$id" '{"title":"Bank errand"}'
dictate "$work/milk.wav"
wait_until 20 has_file "Bank errand"
check "renaming the note renames its file" has_file "Bank errand ${id:0:8}"
check "the old name is gone" lacks_file "Please call the bank tomorrow morning"
check "the second note has its own file" has_file "Remind me to buy milk and bread"

# Archive on the service; the next pass removes the file.
patch_note "$id" '{"archived":true}'
dictate "$work/lunch.wav"
wait_until 20 lacks_file "Bank errand"
check "archiving the note removes its file" lacks_file "Bank errand"
check "the other notes stay" has_file "Remind me to buy milk and bread"
wait_until 20 has_file "Send the report to the team before lunch"
check "the third note arrives" has_file "Send the report to the team before lunch"

finish
