; The protocol core: packets with their CRC-8, the request handshake, the load and
; save transfers with their retries, and the disk command. It knows nothing of the
; KERNAL or of what carries the bytes: a line module gives it line_get, line_put,
; line_drain, line_stop, line_open and line_close, and the front end hands it its
; blocks through the vectors _dv_sink, _dv_source and _dv_onopen.
;
; Every entry point returns with A = st_ok ($80) and the carry clear on success,
; else with the carry set and A the status that ended it: the server's refusal
; (st_openerror ...), st_repeat when packets kept arriving damaged, st_abort after
; RUN/STOP, st_noanswer when the server did not answer. X is 0 on return, so the
; result reads as an unsigned char from C.

        .include "protocol.inc"
        .macpack longbranch

        .export _dv_init, _dv_load, _dv_save, _dv_command
        .export _dv_txbuf, _dv_txlen, _dv_rxbuf, _dv_rxlen
        .export _dv_sink, _dv_source, _dv_onopen
        .export dv_linefail, dv_crctab, dv_rxpayload
        .export _dv_rxpayload := dv_rxpayload  ; for the cycle count from C
        .exportzp dv_crc
        .import line_get, line_put, line_drain, line_stop, line_open, line_close

; Damaged packets in a row taken before a transfer gives up.
max_retries = 3
; Attention bytes sent before a silent or confused server counts as absent.
attention_tries = 2

        .zeropage
dv_crc:         .res 1          ; the CRC register of every packet, both ways

        .bss
_dv_txbuf:      .res 256        ; the payload to send: a name, a command, a block
_dv_txlen:      .res 1
_dv_rxbuf:      .res 256        ; the payload received, its CRC byte after it
_dv_rxlen:      .res 1
rxtype:         .res 1
opened:         .res 1          ; the server took the request: a stAbort is due
retries:        .res 1
lastsent:       .res 1          ; the status we sent last, $00 after a data block
result:         .res 1
bailing:        .res 1
bail_sp:        .res 1          ; stack pointer at the entry point
in_packet:      .res 1          ; a time-out now is a damaged packet, not silence
pkt_sp:         .res 1
tries:          .res 1
reqtype:        .res 1

        .data
_dv_sink:       .addr nothing   ; takes _dv_rxbuf/_dv_rxlen, one data block
_dv_source:     .addr nothing   ; fills _dv_txbuf/_dv_txlen, 0 at the end
_dv_onopen:     .addr nothing   ; the server opened the file to load

        .segment "CRCTAB"
; CRC-8 of the 1-Wire kind (x^8 + x^5 + x^4 + 1, reflected $8C), one entry a
; byte, built by _dv_init; page aligned (the linker configuration sees to it) so
; that an indexed read never costs a page crossing.
dv_crctab:      .res 256

        .code

nothing:
        rts

; Builds the CRC table: entry i is what eight steps of "shift right, and exclusive
; or $8C when a 1 fell out" leave of i. Called once before any request.
_dv_init:
        ldx #0
@entry:
        txa
        ldy #8
@step:
        lsr a
        bcc @zero
        eor #$8C
@zero:
        dey
        bne @step
        sta dv_crctab,x
        inx
        bne @entry
        rts

call_sink:
        jmp (_dv_sink)
call_source:
        jmp (_dv_source)
call_onopen:
        jmp (_dv_onopen)

; --- entry points ----------------------------------------------------------

; Loads the file named in _dv_txbuf (a "$" for the listing): every block goes to
; the sink.
_dv_load:
        lda #pt_load
        jsr enter
@next:
        jsr rx_packet
        jcs @damaged
        lda _dv_rxlen
        jne @data
        lda rxtype
        cmp #st_repeat
        jeq @again
        ldx opened
        jne @open
        cmp #st_ok
        jne refused             ; no such file: the server is waiting again
        inc opened
        jsr call_onopen
        jmp @reply
@open:
        cmp #st_eof
        jeq succeed
        jmp confused
@data:
        ldx opened
        jeq confused
        ldx rxtype              ; only data carries a payload
        jne confused
        lda dv_crc
        jne @damaged            ; the payload failed its CRC
        jsr call_sink
        jsr check_stop
@reply:
        lda #0
        sta retries
        lda #st_ok
        jsr tx_status
        jmp @next
@again:                         ; our reply reached it damaged
        jsr count_retry
        jsr resend
        jmp @next
@damaged:
        jsr count_retry
        jsr line_drain
        lda #st_repeat
        jsr tx_status
        jmp @next

; Saves the blocks the source gives under the name in _dv_txbuf.
_dv_save:
        lda #pt_save
        jsr enter
@wait_open:
        jsr rx_packet
        bcs @open_damaged
        lda _dv_rxlen
        jne confused
        lda rxtype
        cmp #st_repeat
        bne @open_reply
        jsr count_retry
        jsr resend
        jmp @wait_open
@open_damaged:
        jsr count_retry
        jsr line_drain
        lda #st_repeat
        jsr tx_status
        jmp @wait_open
@open_reply:
        cmp #st_ok
        jne refused
        inc opened
@block:
        jsr check_stop
        lda #0
        sta retries
        jsr call_source
        lda _dv_txlen
        bne @send
        lda #st_eof             ; not answered: the server closes the file
        jsr tx_status
        jmp succeed
@send:
        jsr tx_data
@ack:
        jsr rx_packet
        bcs @ack_damaged
        lda _dv_rxlen
        jne confused
        lda rxtype
        cmp #st_ok
        beq @block
        cmp #st_repeat
        jne confused
        jsr count_retry         ; the block reached it damaged
        jsr tx_data
        jmp @ack
@ack_damaged:                   ; its answer reached us damaged: it says it again
        jsr count_retry
        jsr line_drain
        lda #st_repeat
        jsr tx_status
        jmp @ack

; Sends the disk command in _dv_txbuf; the server's one status is the result.
_dv_command:
        lda #pt_command
        jsr enter
        jsr rx_packet
        jcs @damaged
        lda _dv_rxlen
        jne confused
        lda rxtype
        cmp #st_ok
        jeq succeed
        jmp refused
@damaged:                       ; the server is waiting again: no repeat to ask for
        lda #st_repeat
        jmp fail

; --- endings ---------------------------------------------------------------

succeed:
        jsr line_close
        ldx #0
        lda #st_ok
        clc
        rts

; A status instead of stOk: the server has gone back to waiting by itself.
refused:
        ldx #0
        stx opened
        cmp #st_ok
        bcs fail
        lda #st_error           ; not a status at all
        jmp fail

; Something the protocol has no place for: end the transfer on both sides.
confused:
        lda #st_error
        jmp fail

; The line failed (A = line_timeout or line_stopped). Inside a packet a time-out
; is only damage: rx_packet returns with the carry set and the transfer asks again.
dv_linefail:
        cmp #line_timeout
        bne fail
        ldx in_packet
        beq fail
        ldx #0
        stx in_packet
        ldx pkt_sp
        txs
        sec
        rts

; Ends the request with the status in A, telling a server in the middle of a
; transfer with stAbort. A line failure while that goes out lands here again and
; ends at once.
fail:
        ldx bailing
        bne @out
        inc bailing
        sta result
        ldx #0
        stx in_packet
        lda opened
        beq @out
        jsr line_drain
        lda #st_abort
        jsr tx_status
@out:
        ldx bail_sp
        txs
        jsr line_close
        ldx #0
        lda result
        sec
        rts

; Opens a request of type A: the state a transfer starts from, the attention
; handshake and the request packet. A server that does not echo ends it.
enter:
        sta reqtype
        tsx
        inx                     ; drop enter's own return address: fail returns
        inx                     ; from the entry point itself
        stx bail_sp
        lda #0
        sta opened
        sta retries
        sta bailing
        sta in_packet
        lda #st_repeat          ; never a stale data block as a resend
        sta lastsent
        lda #attention_tries
        sta tries
        jsr line_open
@attention:
        jsr line_drain
        lda #pt_attention
        jsr line_put
        jsr line_get
        cmp #pt_attention ^ $FF
        beq @heard
        dec tries
        bne @attention
        lda #st_noanswer
        jmp fail
@heard:
        lda reqtype
        jmp tx_packet

check_stop:
        jsr line_stop
        bcc @go
        lda #st_abort
        jmp fail
@go:
        rts

count_retry:
        inc retries
        lda retries
        cmp #max_retries + 1
        bcs @give_up
        rts
@give_up:
        lda #st_repeat
        jmp fail

; Our last packet again, as the server asked: the status or the data block.
resend:
        lda lastsent
        beq tx_data
        jmp tx_status

; --- packets ---------------------------------------------------------------

; Reads one packet: rxtype, _dv_rxlen, the payload and its CRC byte into
; _dv_rxbuf. Carry set when the header failed its CRC or a byte after the first
; did not come; else carry clear and dv_crc 0 when the payload is sound.
rx_packet:
        tsx
        stx pkt_sp
        jsr line_get            ; the first byte may take the line's whole patience
        sta rxtype
        inc in_packet
        tax
        lda dv_crctab,x
        sta dv_crc
        jsr line_get
        sta _dv_rxlen
        eor dv_crc
        tax
        lda dv_crctab,x
        sta dv_crc
        jsr line_get
        eor dv_crc
        tax
        lda dv_crctab,x         ; a sound header leaves 0
        sta dv_crc
        bne @bad
        lda _dv_rxlen
        beq @done
        jsr dv_rxpayload
@done:
        lda #0
        sta in_packet
        clc
        rts
@bad:
        lda #0
        sta in_packet
        sec
        rts

; Reads A payload bytes and the CRC byte after them into _dv_rxbuf; dv_crc ends 0
; when they are sound.
dv_rxpayload:
        clc
        adc #1                  ; 255 + 1 wraps to 0: 256 bytes
        sta @limit + 1
        ldy #0
        sty dv_crc
; The receive loop, with the byte already waiting at the ACIA: 24 cycles in
; line_get (its jsr and rts included) and 24 here, 48 a byte.
@loop:
        jsr line_get            ; 24
        sta _dv_rxbuf,y         ; 5
        eor dv_crc              ; 3
        tax                     ; 2
        lda dv_crctab,x         ; 4
        sta dv_crc              ; 3
        iny                     ; 2
@limit: cpy #$00                ; 2, patched to the count
        bne @loop               ; 3
        rts

; Sends the empty packet whose type is the status in A.
tx_status:
        sta lastsent
        ldx #0
        jmp send

; Sends _dv_txbuf as a data block.
tx_data:
        lda #0
        sta lastsent
        lda #pt_data
; Sends a packet of type A with the payload in _dv_txbuf.
tx_packet:
        ldx _dv_txlen
send:
        pha
        tay
        lda dv_crctab,y
        sta dv_crc
        txa
        eor dv_crc
        tay
        pla
        jsr line_put            ; type
        txa
        jsr line_put            ; length
        lda dv_crctab,y
        jsr line_put            ; header CRC
        cpx #0
        beq @done
        lda #0
        sta dv_crc
        ldy #0
@payload:
        lda _dv_txbuf,y
        jsr line_put
        eor dv_crc
        sta dv_crc
        sty @y + 1
        tay
        lda dv_crctab,y
        sta dv_crc
@y:     ldy #$00
        iny
        dex
        bne @payload
        lda dv_crc
        jmp line_put            ; payload CRC
@done:
        rts
