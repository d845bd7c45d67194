#!/bin/sh
# orv_ftp_get.cmd: fetches the message files addressed to this site into
# `inbox`. orv runs it in its `html` directory at the start of
# SYS_PICK_UP_MSG.
#
# For sites on one machine the put script of the sending site has already
# moved the files into this site's inbox, so there is nothing to fetch. A
# site that receives over a network fetches here (see README.md).
# orvsite: fetches nothing. (orvsite exchange and watch then pick up only
# when inbox holds a file for the site; remove this line from a get script
# that does fetch.)
exit 0
