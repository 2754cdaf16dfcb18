(begin
  (define items (list 1 2 3 4 5))
  (define reversed (list))
  (define rev
    (lambda ()
      (cond ((null? items) reversed)
            (else (begin (define reversed (cons (car items) reversed))
                         (define items (cdr items))
                         (rev))))))
  (rev))
