(begin
  (define i 1)
  (define row
    (lambda ()
      (cond ((< 5 i) (quote done))
            (else (begin (print (list i (* i i) (* i i i)))
                         (newline)
                         (define i (+ i 1))
                         (row))))))
  (row))
