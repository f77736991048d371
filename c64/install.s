; Installation. dorvane.prg is a BASIC line at $0801 (10 SYS2061) whose machine
; code moves the program to $C000, out of BASIC's reach, and installs it. After
; that SYS 49152 installs it again; two bytes before the code choose the
; cartridge and the device:
;   49155 ($C003)  the cartridge's page: 222 $DE00 (the default), 223 $DF00, 215 $D700
;   49156 ($C004)  the device number; 0 (the default) takes the first of 8 to 11
;                  that no drive on the serial bus answers as

        .include "c64.inc"

        .export remove
        .import load_hook, save_hook, old_load, old_save, dv_device, wedge_main
        .import print_device_number, acia_base, acia_init, _dv_init
        .import __ENTRY_LOAD__, __ENTRY_RUN__, __DATA_RUN__, __DATA_SIZE__

iload   = $0330
isave   = $0332
imain   = $0302
chrout  = $FFD2
listen  = $FFB1
second  = $FF93
unlsn   = $FFAE

resident_size = __DATA_RUN__ + __DATA_SIZE__ - __ENTRY_RUN__

        .segment "LOADADDR"
        .addr $0801

        .segment "STUB"
        .addr @end              ; 10 SYS2061
        .word 10
        .byte $9E, "2061", 0
@end:   .addr 0
; $080D: move the resident part to $C000, page by page, then install it.
        lda #<__ENTRY_LOAD__
        sta $FB
        lda #>__ENTRY_LOAD__
        sta $FC
        lda #<__ENTRY_RUN__
        sta $FD
        lda #>__ENTRY_RUN__
        sta $FE
        ldx #>resident_size + 1
        ldy #0
@move:
        lda ($FB),y
        sta ($FD),y
        iny
        bne @move
        inc $FC
        inc $FE
        dex
        bne @move
        jmp install

        .segment "ENTRY"
        jmp install             ; $C000, SYS 49152
page:   .byte $DE               ; $C003
wanted: .byte 0                 ; $C004

        .bss
old_main:       .res 2

        .code

install:
        jsr _dv_init
        lda page
        jsr acia_base
        jsr acia_init
        jsr pick_device
        jsr ours
        beq @hooked             ; installed already: the vectors found stay
        lda iload               ; what other devices keep using
        sta old_load
        lda iload + 1
        sta old_load + 1
        lda isave
        sta old_save
        lda isave + 1
        sta old_save + 1
        lda imain
        sta old_main
        lda imain + 1
        sta old_main + 1
        sei
        lda #<load_hook
        sta iload
        lda #>load_hook
        sta iload + 1
        lda #<save_hook
        sta isave
        lda #>save_hook
        sta isave + 1
        lda #<wedge_main
        sta imain
        lda #>wedge_main
        sta imain + 1
        cli
@hooked:
        jsr print_device_number ; "DORVANE: DEVICE 8, $DE00, @Q REMOVES"
        ldx #0
@text:
        lda at_text,x
        beq @page
        jsr chrout
        inx
        bne @text
@page:
        lda page
        jsr print_hex
        ldx #0
@rest:
        lda removes_text,x
        beq @done
        jsr chrout
        inx
        bne @rest
@done:
        rts

at_text:
        .byte ", $", 0
removes_text:
        .byte "00, @Q REMOVES", 13, 0

; The device number: the one chosen, else the first of 8 to 11 that nothing on
; the serial bus answers as (11 when all do).
pick_device:
        lda wanted
        bne @set
        lda #8
@probe:
        sta dv_device
        lda #0
        sta kstatus
        lda dv_device
        jsr listen
        lda #$6F                ; the command channel
        jsr second
        jsr unlsn
        lda kstatus
        bmi @free               ; bit 7: device not present
        lda dv_device
        cmp #11
        beq @free
        clc
        adc #1
        bne @probe
@free:
        rts
@set:
        sta dv_device
        rts

print_hex:
        pha
        lsr a
        lsr a
        lsr a
        lsr a
        jsr @digit
        pla
        and #$0F
@digit:
        cmp #10
        bcc @number
        adc #'A' - '0' - 10 - 1 ; carry is set
@number:
        adc #'0'
        jmp chrout

; @q: the vectors as they were found.
remove:
        jsr ours
        bne @done
        sei
        lda old_load
        sta iload
        lda old_load + 1
        sta iload + 1
        lda old_save
        sta isave
        lda old_save + 1
        sta isave + 1
        lda old_main
        sta imain
        lda old_main + 1
        sta imain + 1
        cli
        ldx #0
@text:
        lda removed_text,x
        beq @done
        jsr chrout
        inx
        bne @text
@done:
        rts

; Z set when the load vector is ours.
ours:
        lda iload
        cmp #<load_hook
        bne @done
        lda iload + 1
        cmp #>load_hook
@done:
        rts

removed_text:
        .byte "DORVANE REMOVED", 13, 0
